#pragma once

#include <QtGlobal>

// The shell's change codes: the event code of every folder change report and,
// OR-ed together, the event mask of a registration.  The values are the
// shell's own, so that reports read the same whichever platform layer makes
// them.
namespace ShellChange {

enum Code : qint32 {
    RenameItem = 0x1,
    Create = 0x2,
    Delete = 0x4,
    Mkdir = 0x8,
    Rmdir = 0x10,
    MediaInserted = 0x20,
    MediaRemoved = 0x40,
    DriveRemoved = 0x80,
    DriveAdd = 0x100,
    NetShare = 0x200,
    NetUnshare = 0x400,
    Attributes = 0x800,
    UpdateDir = 0x1000,
    UpdateItem = 0x2000,
    ServerDisconnect = 0x4000,
    UpdateImage = 0x8000,
    DriveAddGui = 0x10000,
    RenameFolder = 0x20000,
    FreeSpace = 0x40000,
    AssocChanged = 0x8000000,
    DiskEvents = 0x2381F,
    GlobalEvents = 0xC0581E0,
    AllEvents = 0x7FFFFFFF,
};

} // namespace ShellChange
