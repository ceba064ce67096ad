#pragma once

#include <QObject>
#include <QString>

#include <functional>

class IconCache;
class QTreeWidget;
class QTreeWidgetItem;

// The folder tree logic over a QTreeWidget: one node per folder below the
// root (the root itself has no node), its text the folder's name alone, the
// sub-folders of a folder in name order (BrowseRules::sortFolderNames).  Only the top level is read on
// a rebuild; a node is probed for a first sub-folder (its has-children flag,
// shown as an expand button) and filled when first expanded.  Hidden
// folders and links to folders are shown, files never; reading one level at
// a time keeps link loops harmless.
// UI thread; does not own the tree widget.
class FolderTree : public QObject
{
    Q_OBJECT
public:
    explicit FolderTree(QTreeWidget *tree, QObject *parent = nullptr);
    ~FolderTree() override;

    QTreeWidget *tree() const { return m_tree; }

    // Called at the end of every addFolderNodes() with the folder it read,
    // whether or not the folder could be read.
    void setFolderReadCallback(std::function<void(const QString &path)> callback);

    // Rebuilds the tree from `folder` (trailing delimiter): busy cursor and one
    // bulk update around removing all nodes and addFolderNodes(folder, none, true).
    // The tree ends collapsed.
    void showRoot(const QString &folder);

    // Reads one folder `path` (trailing delimiter).  With `addChildren` its
    // sub-folders become children of `node` (top-level nodes when null), each
    // probed; otherwise only raises `node`'s has-children flag when `path`
    // has a sub-folder.
    void addFolderNodes(const QString &path, QTreeWidgetItem *node, bool addChildren);

    // The folder of `node` below `root` (both with trailing delimiter).
    static QString nodePath(const QString &root, const QTreeWidgetItem *node);

    // Before-expansion rule: fills `node` from `path` once, when its flag is
    // raised and it has no children yet (busy cursor, bulk update).
    void expandNode(QTreeWidgetItem *node, const QString &path);

    // Opens the tree from `root` (trailing delimiter, the folder it was
    // rebuilt from) down to the folder below it named by `path` (the names of
    // its folders, top first): each folder on the way is filled as an
    // expansion would fill it and expanded, and the last one is made current
    // and scrolled to.  Stops at the first name the tree does not show.
    // Returns the node of the last folder reached (null when none).
    QTreeWidgetItem *openDownTo(const QString &root, const QStringList &path);

    // The has-children flag of `node`.
    static bool hasChildrenFlag(const QTreeWidgetItem *node);

    // Number of folder reads made so far (fills and probes).
    int folderReads() const { return m_reads; }

private:
    QTreeWidget *m_tree;
    IconCache *m_icons;
    std::function<void(const QString &)> m_folderRead;
    int m_reads = 0;
};
