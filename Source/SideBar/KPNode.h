// One node of a side-bar tree: a title, a node type (SideBarNodeType), children in display
// order, a weak link to its parent, the library object it stands for (a DBNode in dbNode, or a
// tag, tag group, index folder, path or marker text in data), two icons, a badge count and the
// small pieces of row state the row drawing reads (busy spinner and its phase, missing-folder
// warning, hover, the row's small button).
//
// Nodes are shared: the tree, menu items, model indexes and import options refer to them, so
// they live as long as any holder does, and a node taken out of its parent forgets the parent.
// Row state is plain data: the side bar's delegate paints the spinner and the button from it,
// so no widget belongs to a node.
//
// Threads: main thread only, like the trees that hold them.
#pragma once

#include "Store/DBIndexFolder.h"
#include "Store/DBNode.h"
#include "Store/DBTag.h"
#include "Store/DBTagGroup.h"

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <memory>

class KPMultiSprite;

class KPNode : public std::enable_shared_from_this<KPNode> {
    struct Private {};

public:
    using Ptr = std::shared_ptr<KPNode>;

    // The data of the iCloud container node.
    static inline const QString kICloudMarker = QStringLiteral("A.A.A");

    // Sort keys of sortChildren.
    static inline const QString kSortTitle = QStringLiteral("Title");
    static inline const QString kSortID = QStringLiteral("ID");
    static inline const QString kSortRightNumber = QStringLiteral("RightNumber");

    // An invisible root: node type 0, no children.
    static Ptr create();
    // A collection (type 1 → 21), folder (2 → 16) or smart folder (3 → 17) with the record's
    // title and sort position; any other record type leaves node type 0.
    static Ptr initWithDBNode(const DBNode& node);
    // Type 1 also makes the node a section header (isRoot).
    static Ptr initWithTitle(const QString& title, int nodeType);
    // A sub-folder of an index folder: its last path component, type 23, the path as data.
    static Ptr initWithSubIndexFolder(const QString& path);

    explicit KPNode(Private) {}
    ~KPNode();
    KPNode(const KPNode&) = delete;
    KPNode& operator=(const KPNode&) = delete;

    // ---- tree ----
    const QList<Ptr>& children() const { return m_children; }
    bool hasChildren() const { return !m_children.isEmpty(); }
    Ptr parent() const { return m_parent.lock(); }
    // Appends child (no test for a duplicate) and makes this node its parent; a child still in
    // another node is taken out of it first.
    void addChild(const Ptr& child);
    // Inserts at index (clamped to the children's range).
    void insertChild(const Ptr& child, int index);
    // Removes child when it is one of the children and clears its parent; false otherwise.
    bool removeChild(const KPNode* child);
    void removeAllChildren();
    void removeFromParentNode();
    // Position among the parent's children, or -1 when the node has no parent.
    int indexInParent() const;
    int indexOfChild(const KPNode* child) const;
    // Sorts the children in place: "Title" ascending in natural order (digit runs by value,
    // letters ignoring case), "ID" ascending by sortID, "RightNumber" descending by badge count.
    // Ties keep their order; any other key changes nothing.
    void sortChildren(const QString& key);

    // ---- what the node stands for ----
    int nodeType() const { return m_nodeType; }
    bool isRoot() const { return m_isRoot; }
    void setIsRoot(bool root) { m_isRoot = root; }
    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    QString description() const { return m_title; }
    qint64 sortID() const { return m_sortID; }
    void setSortID(qint64 sortID) { m_sortID = sortID; }
    const DBNode& dbNode() const { return m_dbNode; }
    void setDbNode(const DBNode& node) { m_dbNode = node; }
    // Any object: a record reference (DBRecord::ref), a path or marker text, a list. For tag
    // groups and tags (types 11 and 12) the object's sortID is copied into sortID first.
    const QVariant& data() const { return m_data; }
    void setData(const QVariant& data);
    // The record held in data, or nil when data holds something else.
    DBIndexFolder indexFolder() const;
    DBTag tag() const;
    DBTagGroup tagGroup() const;
    // The text held in data (a sub-folder's path), or empty.
    QString dataString() const;

    // ---- icons ----
    const QImage& icon() const { return m_icon; }
    const QImage& highlightIcon() const { return m_highlightIcon; }
    void setupIcon(const QImage& icon, const QImage& highlightIcon);
    KPMultiSprite* themeIcon() const { return m_themeIcon; }
    void setThemeIcon(KPMultiSprite* sprite) { m_themeIcon = sprite; }

    // ---- row state ----
    qint64 rightNumber() const { return m_rightNumber; }
    void setRightNumber(qint64 number) { m_rightNumber = number; }
    bool isBusy() const { return m_isBusy; }
    // Busy rows show a spinner; a node that stops being busy starts its next spin at phase 0.
    void setIsBusy(bool busy);
    // The spinner's leading spoke, 0 to 11, advanced by the view's beat.
    int spinnerPhase() const { return m_spinnerPhase; }
    void advanceSpinner();
    bool boolShowWarning() const { return m_boolShowWarning; }
    void setBoolShowWarning(bool show) { m_boolShowWarning = show; }
    bool boolShowWarningIn() const { return m_boolShowWarningIn; }
    void setBoolShowWarningIn(bool in) { m_boolShowWarningIn = in; }
    bool boolShowRightButton() const { return m_boolShowRightButton; }
    void setBoolShowRightButton(bool show) { m_boolShowRightButton = show; }
    // The sprite set the row's button is drawn from.
    KPMultiSprite* rightButtonSprite() const { return m_rightButtonSprite; }
    void setRightButtonSprite(KPMultiSprite* sprite) { m_rightButtonSprite = sprite; }

private:
    void adopt(const Ptr& child);

    QList<Ptr> m_children;
    std::weak_ptr<KPNode> m_parent;
    // Where this node last was among its parent's children: rows are asked for often, and a
    // plain search would make long sibling lists slow.
    mutable int m_rowHint = 0;
    DBNode m_dbNode;
    qint64 m_sortID = 0;
    QString m_title;
    int m_nodeType = 0;
    bool m_isRoot = false;
    QVariant m_data;
    QImage m_icon;
    QImage m_highlightIcon;
    KPMultiSprite* m_themeIcon = nullptr;
    qint64 m_rightNumber = 0;
    bool m_isBusy = false;
    int m_spinnerPhase = 0;
    bool m_boolShowWarning = false;
    bool m_boolShowWarningIn = false;
    bool m_boolShowRightButton = false;
    KPMultiSprite* m_rightButtonSprite = nullptr;
};

Q_DECLARE_METATYPE(KPNode::Ptr)
