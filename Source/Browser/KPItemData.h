// The display model of one document in the grid and in every list built from the library: it
// wraps one library record (DBFileInfo), copies out of it the values the views draw, holds the
// thumbnail once it is loaded and is the item Quick Look previews. KPSafeBoxItemData is its
// variant for one file of the open SafeBox.
//
// Identity. Two display models are equal when they stand for the same record (its object ID);
// two SafeBox items when their paths are equal. dataHash is the hash: the string hash of the
// record's object URI in its permanent form (the one it has once saved, so a model made before
// the record's first save hashes like one made after), or of the SafeBox path. Equal hashes of
// different documents never make them equal. Sets of display models (KPItemDataSet) use exactly
// this identity, so a set, a selection or the thumbnail queue never holds one document twice.
//
// The display values are filled once by loadDataContent(), which every getter and setter of
// them calls first: a model costs its values only once something draws or reads them, so a
// listing of many documents, a Select All or a search loads no more than is asked for. The modification date text is made against the interface clock's "now"
// (platform::kit::Scheduler), in local time, with calendar days: "Today 00:01" is a minute after
// local midnight, "Yesterday 23:59" a minute before, also across a change to or from summer time.
//
// Threads: main thread only. The thumbnail loader snapshots what it needs here on the main
// thread and hands the image back there (KPThumbnailLoader); it never reads a model elsewhere.
#pragma once

#include "Browser/KPSectionIndexSet.h"
#include "Platform/ObjectStore/ObjectID.h"
#include "Store/DBFileInfo.h"

#include <QCollatorSortKey>
#include <QDateTime>
#include <QImage>
#include <QMetaType>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <unordered_set>

class KPItemData;
using KPItemDataPtr = std::shared_ptr<KPItemData>;

class KPItemData {
public:
    // Keys of info that the item views leave for the thumbnail loader.
    static inline const QString kFrameSizeKey = QStringLiteral("FrameSize");
    static inline const QString kFrameImageSizeKey = QStringLiteral("FrameImageSize");
    static inline const QString kIsListViewKey = QStringLiteral("IsListView");

    // initWithData: a display model of record (nil gives a model that equals only itself).
    explicit KPItemData(const DBFileInfo& record);
    static KPItemDataPtr create(const DBFileInfo& record) { return std::make_shared<KPItemData>(record); }
    virtual ~KPItemData();
    KPItemData(const KPItemData&) = delete;
    KPItemData& operator=(const KPItemData&) = delete;

    // ---- identity ----
    // The wrapped record; nil for a SafeBox item.
    const DBFileInfo& data() const { return m_record; }
    // The record's identity (for the rebuild window and anything that refetches the record);
    // null for a SafeBox item.
    platform::ObjectID objectID() const { return m_record.objectID(); }
    quint64 dataHash() const { return m_dataHash; }
    // Given at creation by callers that number their items; nothing here reads it.
    const QVariant& dataID() const { return m_extras ? m_extras->dataID : kNoExtras.dataID; }
    void setDataID(const QVariant& id) { extras().dataID = id; }
    bool isEqual(const KPItemData& other) const;
    virtual bool isSafeBoxItem() const { return false; }
    // The title (the wrapped record's or the SafeBox file's).
    QString description() const { return title(); }

    // ---- per-item values from the item view (FrameSize, FrameImageSize, IsListView) ----
    const QVariantMap& info() const { return m_extras ? m_extras->info : kNoExtras.info; }
    void setObject(const QVariant& value, const QString& key) { extras().info.insert(key, value); }
    QVariant objectForKey(const QString& key) const { return info().value(key); }
    void removeObjectForKey(const QString& key)
    {
        if (m_extras)
            m_extras->info.remove(key);
    }

    // ---- display values ----
    virtual void loadDataContent();
    bool bLoadedDataContent() const { return m_loadedDataContent; }
    // Reads the display values again from the record after it changed; a model not drawn yet
    // stays unloaded (it reads the record when it is).
    void reloadDataContent();
    // Drops the display values and the thumbnail of a record's model (it reads them again when
    // asked); a SafeBox item keeps its own.
    void unloadDataContent();
    // An item view starts or stops showing item. Models no view shows keep their values while
    // they are among the last kKeptHiddenValues hidden ones, so scrolling back and forth loads
    // nothing again, and lose them after that, so a scroll across a large listing does not
    // leave every model it passed holding its texts.
    static constexpr size_t kKeptHiddenValues = 2000;
    static void setShown(const KPItemDataPtr& item, bool shown);
    static void setKeptHiddenValuesForTesting(size_t count);
    // Rebuilds the tag names from the record (after a tag edit).
    void reloadTagFromDBFileInfo();
    // What tagString() shows for record, computed without a model.
    static QString tagStringOf(const DBFileInfo& record);
    QString title() const { return shown().title; }
    void setTitle(const QString& title) { values().title = title; }
    // The key in the name order (platform::naturalSortKey) of the title shown, or of the
    // record's title until the values are loaded: made on first use and kept while that title
    // and the locale stay, so regrouping a large listing compares keys only.
    const QCollatorSortKey& titleSortKey() const;
    // Tag names of the record's tags not in the trash, in the name order, joined with ", ";
    // "" without tags.
    QString tagString() const { return shown().tagString; }
    QStringList tagObjects() const { return shown().tagObjects; }
    // Computed on each call from the record's authors not in the trash, in the name order:
    // null for a SafeBox item, "" (not null) for a record without authors.
    QString authorString() const;
    std::optional<QStringList> authorObjects() const;
    QString filePath() const { return shown().filePath; }
    // After a rename on disk.
    void setFilePath(const QString& path) { values().filePath = path; }
    QString thumbPath() const { return shown().thumbPath; }
    void setThumbPath(const QString& path) { values().thumbPath = path; }
    qint64 rate() const { return shown().rate; }
    void setRate(qint64 rate) { values().rate = rate; }
    // The flag (colour label number).
    qint64 label() const { return shown().label; }
    void setLabel(qint64 label) { values().label = label; }
    qint64 fileSize() const { return shown().fileSize; }
    // What rate(), label() and tagObjects() give, read without loading the values: a model not
    // loaded yet answers from its record. For readers of a whole selection (the inspector of a
    // Select All), which would otherwise load every model they pass.
    qint64 rateWithoutLoading() const;
    qint64 labelWithoutLoading() const;
    QStringList tagObjectsWithoutLoading() const;
    QDateTime dateModified() const { return shown().dateModified; }
    // SafeBox items only; invalid for records.
    QDateTime dateCreated() const { return m_extras ? m_extras->dateCreated : QDateTime(); }
    // "Today 09:30", "Yesterday 23:59" or "Mar 5, 2012 14:02"; null without a date.
    QString dateModifiedString() const { return shown().dateModifiedString; }

    // ---- thumbnail (main thread; the loader delivers here) ----
    bool bLoadingResource() const { return m_loadingResource; }
    void setBLoadingResource(bool flag) { m_loadingResource = flag; }
    bool bLoadedResource() const { return m_loadedResource; }
    void setBLoadedResource(bool flag) { m_loadedResource = flag; }
    bool bNeedReloadResource() const { return m_needReloadResource; }
    void setBNeedReloadResource(bool flag) { m_needReloadResource = flag; }
    // Pixel size of the source thumbnail before it was fitted.
    QSize imageOriginalSize() const { return m_extras ? m_extras->imageOriginalSize : QSize(); }
    void setImageOriginalSize(const QSize& size) { extras().imageOriginalSize = size; }
    // The fitted thumbnail; null until one is loaded.
    const QImage& sourceImage() const { return m_sourceImage; }
    void setSourceImage(const QImage& image) { m_sourceImage = image; }
    // The thumbnail Quick Look shows while its panel opens; null while none is loaded.
    QImage previewImage() const { return m_sourceImage; }

    // ---- Quick Look ----
    // Loads the display values first.
    QUrl previewItemURL();
    const KPSectionIndexSet& quickLookIndexSet() const
    {
        return m_extras ? m_extras->quickLookIndexSet : kNoExtras.quickLookIndexSet;
    }
    void setQuickLookIndexSet(const KPSectionIndexSet& index) { extras().quickLookIndexSet = index; }

    // The date text for a modification date against now, in local time (the rule above).
    static QString dateTextForDate(const QDateTime& date, const QDateTime& now);

protected:
    // What the views draw. A record's model holds them only between its first use and its
    // unloading, in an allocation of their own: a listing of many documents costs one pointer
    // per document until they are drawn.
    struct Values {
        QString title;
        QString filePath;
        QString thumbPath;
        QString dateModifiedString;
        QString tagString;
        QStringList tagObjects;
        QDateTime dateModified;
        qint64 fileSize = 0;
        qint64 rate = 0;
        qint64 label = 0;
    };
    // What few models ever carry, made when first set.
    struct Extras {
        QString identityPath;
        QDateTime dateCreated;
        QVariant dataID;
        QVariantMap info;
        KPSectionIndexSet quickLookIndexSet;
        QSize imageOriginalSize;
    };

    // The values to read: loaded first for a record's model; empty ones for a model without.
    const Values& shown() const
    {
        if (!m_loadedDataContent && m_record)
            const_cast<KPItemData*>(this)->loadDataContent();
        return m_values ? *m_values : kNoValues;
    }
    // The values to change: loaded first, made when missing.
    Values& values();
    Extras& extras();

    // initWithData:ID: for subclasses that are no record's model; identityPath is what makes
    // two of them equal (and is hashed).
    KPItemData(const QVariant& dataID, const QString& identityPath);

    bool m_loadedDataContent = false;

private:
    static const Values kNoValues;
    static const Extras kNoExtras;

    // Read by every grouping and sort: kept together at the start.
    DBFileInfo m_record;
    mutable std::optional<QCollatorSortKey> m_titleSortKey;
    // The title the key was made from: the loaded title itself (any change of the values
    // clears this), or the record's, remembered by length and hash (it is decoded anew at each
    // read: a copy kept for comparing cost as much memory as the title); and the collation.
    mutable bool m_titleSortKeyOfValues = false;
    mutable int m_titleSortKeyGeneration = 0;
    mutable size_t m_titleSortKeyOf = 0;
    mutable qsizetype m_titleSortKeyLength = -1;
    std::unique_ptr<Values> m_values;
    bool m_loadingResource = false;
    bool m_loadedResource = false;
    bool m_needReloadResource = true;
    // Views showing this model now (KPItemData::setShown).
    quint16 m_shownCount = 0;
    quint64 m_dataHash = 0;
    std::unique_ptr<Extras> m_extras;
    QImage m_sourceImage;
};

// Display-model identity for hashed containers of KPItemDataPtr.
struct KPItemDataHash {
    size_t operator()(const KPItemDataPtr& item) const noexcept { return item ? size_t(item->dataHash()) : 0; }
};
struct KPItemDataEqual {
    bool operator()(const KPItemDataPtr& a, const KPItemDataPtr& b) const
    {
        // The hash first: a set of many models compares each probe with the others in its
        // bucket, and most differ there without reaching their records.
        return a == b || (a && b && a->dataHash() == b->dataHash() && a->isEqual(*b));
    }
};
using KPItemDataSet = std::unordered_set<KPItemDataPtr, KPItemDataHash, KPItemDataEqual>;

Q_DECLARE_METATYPE(KPItemDataPtr)
