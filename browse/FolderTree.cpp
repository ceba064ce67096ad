#include "browse/FolderTree.h"

#include "browse/BrowseRules.h"
#include "browse/BusyCursor.h"
#include "browse/FolderRead.h"
#include "browse/FolderScan.h"
#include "browse/IconCache.h"

#include <QFileIconProvider>
#include <QStringList>
#include <QTreeWidget>

namespace {

// Redraws the tree once at the end, however the work inside ends.
struct BulkUpdate
{
    QTreeWidget *tree;
    bool wasEnabled;
    explicit BulkUpdate(QTreeWidget *t) : tree(t), wasEnabled(t->updatesEnabled())
    {
        tree->setUpdatesEnabled(false);
    }
    ~BulkUpdate() { tree->setUpdatesEnabled(wasEnabled); }
};

} // namespace

FolderTree::FolderTree(QTreeWidget *tree, QObject *parent)
    : QObject(parent), m_tree(tree), m_icons(new IconCache(new QFileIconProvider))
{
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setSortingEnabled(false);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setUniformRowHeights(true);
}

FolderTree::~FolderTree()
{
    // Reads stuck on a share are left behind, never waited for.
    for (const auto &read : std::as_const(m_pending))
        read->cancel();
    delete m_icons;
}

void FolderTree::setFolderReadCallback(std::function<void(const QString &)> callback)
{
    m_folderRead = std::move(callback);
}

void FolderTree::showRoot(const QString &folder)
{
    for (const auto &read : std::as_const(m_pending))
        read->cancel();
    m_pending.clear();
    m_opening.reset();
    {
        BulkUpdate bulk(m_tree);
        m_tree->clear();
    }
    addFolderNodes(folder, nullptr);
}

void FolderTree::addFolderNodes(const QString &path, QTreeWidgetItem *node)
{
    // What the worker found, handed over level by level.  The nodes it makes
    // are the tree's from the moment they are added; a rebuild cancels the
    // read before it removes them.
    auto children = std::make_shared<QList<QTreeWidgetItem *>>();
    std::shared_ptr<FolderRead> read = FolderRead::start(this, [=, this](FolderRead::Feed &feed) {
        // Directory reads come in the file system's own order (a hash order
        // on most Linux file systems): a person looks for a folder by name.
        QStringList names = FolderScan::subFolders(path);
        BrowseRules::sortFolderNames(names);
        const bool listed = feed.post([=, this] {
            ++m_reads;
            BulkUpdate bulk(m_tree);
            children->reserve(names.size());
            const QIcon icon = m_icons->folderIcon();
            for (const QString &name : names) {
                auto *child = new QTreeWidgetItem(QStringList{name});
                child->setIcon(0, icon);
                child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
                children->append(child);
            }
            // One insertion for the whole level: the model announces it once.
            if (node)
                node->addChildren(*children);
            else
                m_tree->addTopLevelItems(*children);
        });
        if (!listed)
            return;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString childPath = path + names.at(i) + BrowseRules::Delimiter;
            const bool has = FolderScan::hasSubFolder(childPath);
            const bool posted = feed.post([=, this] {
                ++m_reads;
                if (has)
                    children->at(i)->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
                if (m_folderRead)
                    m_folderRead(childPath);
            });
            if (!posted)
                return;
        }
        feed.post([=, this] {
            if (m_folderRead)
                m_folderRead(path);
            readDone(node);
        });
    });
    m_pending.insert(node, read);
    BusyCursor busy;
    read->waitFinished(kQuickWaitMs);
}

void FolderTree::readDone(QTreeWidgetItem *node)
{
    m_pending.remove(node);
    if (m_opening)
        continueOpening();
    if (m_pending.isEmpty())
        emit readsFinished();
}

QString FolderTree::nodePath(const QString &root, const QTreeWidgetItem *node)
{
    QStringList texts;
    for (const QTreeWidgetItem *n = node; n; n = n->parent())
        texts.prepend(n->text(0));
    return BrowseRules::nodePath(root, texts);
}

void FolderTree::expandNode(QTreeWidgetItem *node, const QString &path)
{
    if (!node || !hasChildrenFlag(node) || node->childCount() > 0 || m_pending.contains(node))
        return;
    addFolderNodes(path, node);
}

QTreeWidgetItem *FolderTree::openDownTo(const QString &root, const QStringList &path)
{
    m_opening = Opening{root, path};
    return continueOpening();
}

QTreeWidgetItem *FolderTree::continueOpening()
{
    // From the top each time: cheap, and right whatever came in meanwhile.
    const Opening opening = *m_opening;
    QTreeWidgetItem *reached = nullptr;
    QString folder = opening.root;
    bool waiting = m_pending.contains(nullptr);
    for (qsizetype depth = 0; depth < opening.path.size() && !waiting; ++depth) {
        if (reached) {
            // Filled as an expansion fills it; the folder itself stays as
            // the user would leave it, closed.
            expandNode(reached, folder);
            if (m_pending.contains(reached)) {
                waiting = true;
                break;
            }
            reached->setExpanded(true);
        }
        QTreeWidgetItem *next = nullptr;
        // By name: the order of the nodes is not this operation's concern.
        const int count = reached ? reached->childCount() : m_tree->topLevelItemCount();
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem *child = reached ? reached->child(i) : m_tree->topLevelItem(i);
            if (child->text(0) == opening.path.at(depth))
                next = child;
        }
        if (!next)
            break;
        folder += opening.path.at(depth) + BrowseRules::Delimiter;
        reached = next;
    }
    if (waiting)
        return reached;
    m_opening.reset();
    if (reached) {
        m_tree->setCurrentItem(reached);
        m_tree->scrollToItem(reached);
    }
    return reached;
}

bool FolderTree::hasChildrenFlag(const QTreeWidgetItem *node)
{
    return node && node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
}
