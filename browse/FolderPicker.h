#pragma once

#include <QString>

class QFileDialog;
class QWidget;

// The folder picker of "ファイル" > "開く": titled "検索フォルダ指定",
// opening at a given folder (the program's own), offering folders only and
// no button for making a new folder.  UI thread.
namespace FolderPicker {

// The dialog, not yet shown; the caller owns it.
QFileDialog *create(QWidget *parent, const QString &startFolder);

// Runs the picker modally; the chosen folder, or an empty string when the
// user cancelled.
QString pick(QWidget *parent, const QString &startFolder);

} // namespace FolderPicker
