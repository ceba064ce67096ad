#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Handing a listed entry to the application the desktop associates with its
// type.  UI thread.
namespace FileActions {

// Starts the URL's handler; returns whether it could be started.
using UrlOpener = std::function<bool(const QUrl &)>;

// The desktop's own opener (QDesktopServices::openUrl).
UrlOpener desktopOpener();

// Opens the file or folder at `path` with its associated application.
// Fails when nothing exists at `path` (the desktop's launcher would start
// and report nothing) or when `opener` cannot start a handler.
bool openWithAssociatedApp(const QString &path, const UrlOpener &opener = desktopOpener());

} // namespace FileActions
