#pragma once

#include <QObject>
#include <QString>

#include <QHash>

#include <functional>
#include <memory>
#include <optional>

class FolderRead;
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
//
// Each folder level is read on a worker thread of its own (FolderRead): the
// calls that read wait a moment for the worker (a local folder is read by
// then and shows at once) and otherwise return, the nodes coming in as the
// worker reads them; readsFinished() tells when no read is left.  A rebuild
// cancels every read in hand.
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

    // Rebuilds the tree from `folder` (trailing delimiter): removes all nodes
    // and reads the top level as addFolderNodes(folder, none) does.  The tree
    // ends collapsed.
    void showRoot(const QString &folder);

    // Reads one folder `path` (trailing delimiter) on a worker: its
    // sub-folders become children of `node` (top-level nodes when null), then
    // each is probed for a sub-folder of its own (its has-children flag).  The
    // folder read callback tells of each probe and, last, of `path`.  Waits
    // up to FileListModel's quick wait for the worker, with the busy cursor.
    void addFolderNodes(const QString &path, QTreeWidgetItem *node);
    static constexpr int kQuickWaitMs = 25;

    // True while a read of the tree is under way; readsFinished() when the
    // last one ends.
    bool isReading() const { return !m_pending.isEmpty(); }

    // The folder of `node` below `root` (both with trailing delimiter).
    static QString nodePath(const QString &root, const QTreeWidgetItem *node);

    // Before-expansion rule: fills `node` from `path` once, when its flag is
    // raised and it has no children yet (and no read of it is under way).
    void expandNode(QTreeWidgetItem *node, const QString &path);

    // Opens the tree from `root` (trailing delimiter, the folder it was
    // rebuilt from) down to the folder below it named by `path` (the names of
    // its folders, top first): each folder on the way is filled as an
    // expansion would fill it and expanded, and the last one is made current
    // and scrolled to.  Stops at the first name the tree does not show.
    // Returns the node of the last folder reached (null when none).  When a
    // level on the way is still being read, the opening goes on as it comes
    // in (a later openDownTo() or rebuild replaces it), and the node returned
    // is the deepest reached so far.
    QTreeWidgetItem *openDownTo(const QString &root, const QStringList &path);

    // The has-children flag of `node`.
    static bool hasChildrenFlag(const QTreeWidgetItem *node);

    // Number of folder reads made so far (fills and probes).
    int folderReads() const { return m_reads; }

signals:
    // No read of the tree is left under way.
    void readsFinished();

private:
    // Goes on with the opening openDownTo() started; the deepest node reached.
    QTreeWidgetItem *continueOpening();
    void readDone(QTreeWidgetItem *node);

    QTreeWidget *m_tree;
    IconCache *m_icons;
    std::function<void(const QString &)> m_folderRead;
    int m_reads = 0;
    // The reads under way, by the node they fill (null: the top level).
    QHash<QTreeWidgetItem *, std::shared_ptr<FolderRead>> m_pending;
    struct Opening
    {
        QString root;
        QStringList path;
    };
    std::optional<Opening> m_opening;
};
