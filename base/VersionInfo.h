#pragma once

#include <QMap>
#include <QString>
#include <QVector>

// The program's version information and its reader.
//
// The block mirrors a Windows version resource: a list of translations
// (language in the low 16 bits, code page in the high 16 bits) and string
// items keyed "\StringFileInfo\<LANG><CP>\<Item>", each stored with its
// terminating null as a resource would hold it.  CMake generates the
// program's own block from project(VERSION) (VersionBlock.cpp.in).
// Widget-free, no state, any thread.
struct VersionBlock
{
    bool present = false;          // false: the program carries no version information
    QVector<quint32> translations; // "\VarFileInfo\Translation"
    QMap<QString, QString> strings;

    // Adds an item under a translation, with its terminating null.
    void addString(quint32 translation, const QString &item, const QString &value);
};

// The block compiled into this program.
const VersionBlock &programVersionBlock();

// The items of a version block, by the index GetVersionInfoItem takes.
namespace VersionItem {
enum Index : int {
    Comments = 0,
    CompanyName = 1,
    FileDescription = 2,
    FileVersion = 3,
    InternalName = 4,
    LegalCopyright = 5,
    LegalTrademarks = 6,
    OriginalFilename = 7,
    PrivateBuild = 8,
    ProductName = 9,
    ProductVersion = 10,
    SpecialBuild = 11,
};
} // namespace VersionItem

// Item names by index 0..11 (Comments .. SpecialBuild); empty above 11.
QString versionItemName(int index);

// Reads one item of `block`: empty when the block is absent or lacks the
// item; throws AppError("情報の取得に失敗しました") when the block has no
// translation.  Nulls are removed and characters up to U+0020 trimmed.
QString readVersionItem(const VersionBlock &block, int index);

// readVersionItem over the program's own block; `Index` is a VersionItem.
QString GetVersionInfoItem(int Index);
