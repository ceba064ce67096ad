#include "browse/FolderTree.h"

#include "browse/BrowseRules.h"
#include "browse/BusyCursor.h"
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
    delete m_icons;
}

void FolderTree::setFolderReadCallback(std::function<void(const QString &)> callback)
{
    m_folderRead = std::move(callback);
}

void FolderTree::showRoot(const QString &folder)
{
    BulkUpdate bulk(m_tree);
    BusyCursor busy;
    m_tree->clear();
    addFolderNodes(folder, nullptr, true);
}

void FolderTree::addFolderNodes(const QString &path, QTreeWidgetItem *node, bool addChildren)
{
    ++m_reads;
    if (!addChildren) {
        if (node && FolderScan::hasSubFolder(path))
            node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    } else {
        // Directory reads come in the file system's own order (a hash order
        // on most Linux file systems): a person looks for a folder by name.
        QStringList names = FolderScan::subFolders(path);
        BrowseRules::sortFolderNames(names);
        QList<QTreeWidgetItem *> children;
        children.reserve(names.size());
        const QIcon icon = m_icons->folderIcon();
        for (const QString &name : names) {
            auto *child = new QTreeWidgetItem(QStringList{name});
            child->setIcon(0, icon);
            child->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
            addFolderNodes(path + name + BrowseRules::Delimiter, child, false);
            children.append(child);
        }
        // One insertion for the whole level: the model announces it once.
        if (node)
            node->addChildren(children);
        else
            m_tree->addTopLevelItems(children);
    }
    if (m_folderRead)
        m_folderRead(path);
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
    if (!node || !hasChildrenFlag(node) || node->childCount() > 0)
        return;
    BusyCursor busy;
    BulkUpdate bulk(m_tree);
    addFolderNodes(path, node, true);
}

QTreeWidgetItem *FolderTree::openDownTo(const QString &root, const QStringList &path)
{
    QTreeWidgetItem *reached = nullptr;
    QString folder = root;
    for (qsizetype depth = 0; depth < path.size(); ++depth) {
        if (reached) {
            // Filled as an expansion fills it; the folder itself stays as
            // the user would leave it, closed.
            expandNode(reached, folder);
            reached->setExpanded(true);
        }
        QTreeWidgetItem *next = nullptr;
        // By name: the order of the nodes is not this operation's concern.
        const int count = reached ? reached->childCount() : m_tree->topLevelItemCount();
        for (int i = 0; i < count && !next; ++i) {
            QTreeWidgetItem *child = reached ? reached->child(i) : m_tree->topLevelItem(i);
            if (child->text(0) == path.at(depth))
                next = child;
        }
        if (!next)
            break;
        folder += path.at(depth) + BrowseRules::Delimiter;
        reached = next;
    }
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
