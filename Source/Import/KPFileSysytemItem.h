// One folder of the hierarchical import walk.
//
// The walk fills `items` with the full paths of the folder's importable files and `children`
// with the sub-folders in the order found; the hierarchical import later replaces each path in
// `items` by that file's import record and keeps its own folder node in `dataObj`. Items are
// shared because the import hands sub-trees to its workers while the tree is still owned by
// the operation that built it.
#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <memory>
#include <vector>

class KPFileSysytemItem {
public:
    explicit KPFileSysytemItem(const QString& path);

    const QString& path() const { return m_path; }
    void setPath(const QString& path) { m_path = path; }
    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

    QVariantList& items() { return m_items; }
    const QVariantList& items() const { return m_items; }
    const std::vector<std::shared_ptr<KPFileSysytemItem>>& children() const { return m_children; }

    void addItemByObj(const QVariant& obj) { m_items.append(obj); }
    void addChildren(std::shared_ptr<KPFileSysytemItem> child);
    bool hasChildren() const { return !m_children.empty(); }

    const QVariant& dataObj() const { return m_dataObj; }
    void setDataObj(const QVariant& obj) { m_dataObj = obj; }
    const QString& thumbPath() const { return m_thumbPath; }
    void setThumbPath(const QString& path) { m_thumbPath = path; }
    const QVariantMap& dataInfo() const { return m_dataInfo; }
    void setDataInfo(const QVariantMap& info) { m_dataInfo = info; }

private:
    QString m_path;
    QString m_title;
    QVariantList m_items;
    std::vector<std::shared_ptr<KPFileSysytemItem>> m_children;
    QVariant m_dataObj;
    QString m_thumbPath;
    QVariantMap m_dataInfo;
};

// The walked tree travels in the import's final status ("FileSystemItem").
Q_DECLARE_METATYPE(std::shared_ptr<KPFileSysytemItem>)
