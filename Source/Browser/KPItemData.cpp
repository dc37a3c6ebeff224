#include "Browser/KPItemData.h"

#include "Browser/BrowserText.h"
#include "Browser/KPSortFunctions.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/Foundation/StringHash.h"
#include "Platform/Kit/Scheduler.h"
#include "Store/DBAuthor.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"

#include <QLocale>
#include <QTimeZone>
#include <algorithm>

namespace {

// The URI the record has once it is saved. An ID keeps its entity and key from insertion on,
// so this text never changes for a record, whereas the temporary URI of an unsaved record does.
QString permanentURI(const platform::ObjectID& id)
{
    if (id.isNull())
        return {};
    if (!id.isTemporaryID() || !id.store())
        return id.URIRepresentation();
    return QStringLiteral("x-folivo-store://%1/%2/p%3").arg(id.store()->uuid(), id.entity()->name()).arg(id.primaryKey());
}

template <class Record>
QStringList liveNames(const QList<Record>& records)
{
    QStringList names;
    names.reserve(records.size());
    for (const Record& record : records) {
        if (!record.isTrash())
            names.append(record.name());
    }
    sortfunctions::sortNames(names);
    return names;
}

// Where today and yesterday begin for now, in local time. Calendar days: a day around a
// summer-time change is 23 or 25 hours long. Finding a local midnight asks the C library's
// zone rules, which look at the zone file again on every call; over a listing of many
// documents that was most of the work, so the answer is kept while now stays within the same
// day and minute under the same zone setting. The zone itself is kept too: converting each
// document's date through it reads the zone's rules once, where the local-time conversion
// would go back to the C library for every document.
struct DayStarts {
    qint64 today = 0;
    qint64 yesterday = 0;
    QTimeZone zone;
};

DayStarts dayStartsFor(const QDateTime& now)
{
    struct Cache {
        QByteArray zone;
        qint64 from = 0;
        qint64 until = -1;
        DayStarts starts;
    };
    thread_local Cache cache;
    const qint64 ms = now.toMSecsSinceEpoch();
    const QByteArray zone = qgetenv("TZ");
    if (zone != cache.zone || ms < cache.from || ms >= cache.until) {
        const QDate today = now.toLocalTime().date();
        cache.zone = zone;
        cache.starts = {today.startOfDay().toMSecsSinceEpoch(), today.addDays(-1).startOfDay().toMSecsSinceEpoch(),
                        QTimeZone::systemTimeZone()};
        cache.from = ms;
        cache.until = std::min(ms + 60 * 1000, today.addDays(1).startOfDay().toMSecsSinceEpoch());
    }
    return cache.starts;
}

} // namespace

KPItemData::KPItemData(const DBFileInfo& record)
    : m_record(record)
    , m_objectID(record.objectID())
{
    const QString uri = permanentURI(m_objectID);
    // A model of no record equals only itself; its address is as good a hash as any.
    m_dataHash = uri.isEmpty() ? quint64(reinterpret_cast<quintptr>(this)) : platform::stringHash(uri);
}

KPItemData::KPItemData(const QVariant& dataID, const QString& identityPath)
    : m_identityPath(identityPath)
    , m_dataID(dataID)
{
    m_dataHash = platform::stringHash(identityPath);
}

KPItemData::~KPItemData() = default;

bool KPItemData::isEqual(const KPItemData& other) const
{
    if (this == &other)
        return true;
    if (isSafeBoxItem() || other.isSafeBoxItem())
        return isSafeBoxItem() && other.isSafeBoxItem() && m_identityPath == other.m_identityPath;
    return !m_objectID.isNull() && m_objectID == other.m_objectID;
}

void KPItemData::loadDataContent()
{
    if (m_loadedDataContent)
        return;
    if (m_record) {
        m_title = m_record.title();
        m_filePath = DBHelper::CombinFileAbsolutePath(m_record);
        m_thumbPath = DBHelper::CombinThumbAbsolutePath(m_record);
        // Read through the record's row: a list of many documents makes no metadata objects.
        static const QStringList kRate{QStringLiteral("metadata"), QStringLiteral("rate")};
        static const QStringList kLabel{QStringLiteral("metadata"), QStringLiteral("label")};
        static const QStringList kDateModified{QStringLiteral("metadata"), QStringLiteral("dateModified")};
        static const QStringList kFileSize{QStringLiteral("metadata"), QStringLiteral("fileSize")};
        m_rateValue = sortfunctions::recordValue(m_record, kRate).toLongLong();
        m_finderIndex = sortfunctions::recordValue(m_record, kLabel).toLongLong();
        m_dateModified = sortfunctions::recordValue(m_record, kDateModified).toDateTime();
        m_dateModifiedString = dateTextForDate(m_dateModified, platform::kit::Scheduler::current().now());
        m_fileSize = sortfunctions::recordValue(m_record, kFileSize).toLongLong();
        reloadTagFromDBFileInfo();
    }
    m_loadedDataContent = true;
}

void KPItemData::reloadDataContent()
{
    if (!m_loadedDataContent || !m_record)
        return;
    m_loadedDataContent = false;
    loadDataContent();
}

const QCollatorSortKey& KPItemData::titleSortKey() const
{
    const int generation = platform::naturalCollationGeneration();
    const QString title = m_loadedDataContent || !m_record ? m_title : m_record.title();
    // The title is mostly the very string the key was made from: no need to compare it.
    const bool sameTitle = m_titleSortKeyOf.isSharedWith(title) || m_titleSortKeyOf == title;
    if (!m_titleSortKey || generation != m_titleSortKeyGeneration || !sameTitle) {
        m_titleSortKey = platform::naturalSortKey(title);
        m_titleSortKeyOf = title;
        m_titleSortKeyGeneration = generation;
    }
    return *m_titleSortKey;
}

void KPItemData::reloadTagFromDBFileInfo()
{
    m_tagObjects = liveNames(m_record.tags());
    m_tagString = m_tagObjects.isEmpty() ? QStringLiteral("") : m_tagObjects.join(QStringLiteral(", "));
}

QString KPItemData::tagStringOf(const DBFileInfo& record)
{
    const QStringList names = liveNames(record.tags());
    return names.isEmpty() ? QStringLiteral("") : names.join(QStringLiteral(", "));
}

QString KPItemData::authorString() const
{
    const std::optional<QStringList> names = authorObjects();
    if (!names)
        return {};
    return names->isEmpty() ? QStringLiteral("") : names->join(QStringLiteral(", "));
}

std::optional<QStringList> KPItemData::authorObjects() const
{
    if (!m_record)
        return std::nullopt;
    return liveNames(m_record.authors());
}

QUrl KPItemData::previewItemURL()
{
    loadDataContent();
    return QUrl::fromLocalFile(m_filePath);
}

QString KPItemData::dateTextForDate(const QDateTime& date, const QDateTime& now)
{
    if (!date.isValid())
        return {};
    const DayStarts starts = dayStartsFor(now);
    const QDateTime local = starts.zone.isValid() ? date.toTimeZone(starts.zone) : date.toLocalTime();
    const QString time = local.toString(QStringLiteral("HH:mm"));
    const qint64 ms = date.toMSecsSinceEpoch();
    if (ms > starts.today)
        return browsertext::format(QStringLiteral("Today %@"), {time});
    if (ms > starts.yesterday)
        return browsertext::format(QStringLiteral("Yesterday %@"), {time});
    return QLocale().toString(local, QStringLiteral("MMM d, yyyy HH:mm"));
}
