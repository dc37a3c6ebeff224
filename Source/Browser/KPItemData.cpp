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
#include <deque>

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
QString joinedNames(const QStringList& names)
{
    return names.isEmpty() ? QStringLiteral("") : names.join(QStringLiteral(", "));
}

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

// Read through the record's row: a list of many documents makes no metadata objects.
const QStringList kRatePath{QStringLiteral("metadata"), QStringLiteral("rate")};
const QStringList kLabelPath{QStringLiteral("metadata"), QStringLiteral("label")};

} // namespace

KPItemData::KPItemData(const DBFileInfo& record)
    : m_record(record)
{
    const QString uri = permanentURI(record.objectID());
    // A model of no record equals only itself; its address is as good a hash as any.
    m_dataHash = uri.isEmpty() ? quint64(reinterpret_cast<quintptr>(this)) : platform::stringHash(uri);
}

KPItemData::KPItemData(const QVariant& dataID, const QString& identityPath)
{
    extras().identityPath = identityPath;
    if (dataID.isValid())
        extras().dataID = dataID;
    m_dataHash = platform::stringHash(identityPath);
}

KPItemData::~KPItemData() = default;

const KPItemData::Values KPItemData::kNoValues;
const KPItemData::Extras KPItemData::kNoExtras;

KPItemData::Values& KPItemData::values()
{
    if (!m_loadedDataContent && m_record)
        loadDataContent();
    if (!m_values)
        m_values = std::make_unique<Values>();
    // The caller may change the title.
    m_titleSortKeyOfValues = false;
    return *m_values;
}

KPItemData::Extras& KPItemData::extras()
{
    if (!m_extras)
        m_extras = std::make_unique<Extras>();
    return *m_extras;
}

bool KPItemData::isEqual(const KPItemData& other) const
{
    if (this == &other)
        return true;
    if (isSafeBoxItem() || other.isSafeBoxItem())
        return isSafeBoxItem() && other.isSafeBoxItem() && m_extras && other.m_extras &&
               m_extras->identityPath == other.m_extras->identityPath;
    // The record's own ID, not a copy: a large listing holds one model per document.
    const platform::ManagedObjectPtr& mine = m_record.object();
    const platform::ManagedObjectPtr& theirs = other.m_record.object();
    return mine && theirs && (mine == theirs || mine->objectID() == theirs->objectID());
}

void KPItemData::loadDataContent()
{
    if (m_loadedDataContent)
        return;
    if (m_record) {
        auto values = std::make_unique<Values>();
        values->title = m_record.title();
        values->filePath = DBHelper::CombinFileAbsolutePath(m_record);
        values->thumbPath = DBHelper::CombinThumbAbsolutePath(m_record);
        // Read through the record's row: a list of many documents makes no metadata objects.
        static const QStringList kDateModified{QStringLiteral("metadata"), QStringLiteral("dateModified")};
        static const QStringList kFileSize{QStringLiteral("metadata"), QStringLiteral("fileSize")};
        values->rate = sortfunctions::recordValue(m_record, kRatePath).toLongLong();
        values->label = sortfunctions::recordValue(m_record, kLabelPath).toLongLong();
        values->dateModified = sortfunctions::recordValue(m_record, kDateModified).toDateTime();
        values->dateModifiedString = dateTextForDate(values->dateModified, platform::kit::Scheduler::current().now());
        values->fileSize = sortfunctions::recordValue(m_record, kFileSize).toLongLong();
        values->tagObjects = liveNames(m_record.tags());
        values->tagString = joinedNames(values->tagObjects);
        m_values = std::move(values);
        m_titleSortKeyOfValues = false;
    }
    m_loadedDataContent = true;
}

qint64 KPItemData::rateWithoutLoading() const
{
    if (m_loadedDataContent || !m_record)
        return shown().rate;
    return sortfunctions::recordValue(m_record, kRatePath).toLongLong();
}

qint64 KPItemData::labelWithoutLoading() const
{
    if (m_loadedDataContent || !m_record)
        return shown().label;
    return sortfunctions::recordValue(m_record, kLabelPath).toLongLong();
}

QStringList KPItemData::tagObjectsWithoutLoading() const
{
    if (m_loadedDataContent || !m_record)
        return shown().tagObjects;
    return liveNames(m_record.tags());
}

void KPItemData::reloadDataContent()
{
    if (!m_loadedDataContent || !m_record)
        return;
    m_loadedDataContent = false;
    loadDataContent();
}

void KPItemData::unloadDataContent()
{
    if (!m_record)
        return;
    m_values.reset();
    m_loadedDataContent = false;
    m_titleSortKeyOfValues = false;
    // The thumbnail is the largest of them; the next view that shows the model asks for it
    // again (one on its way stays: its delivery sets it).
    if (!m_loadingResource) {
        m_sourceImage = QImage();
        m_loadedResource = false;
        m_needReloadResource = true;
    }
}

namespace {
// The models hidden last, oldest first, and how many keep their values (main thread only, like
// every model).
std::deque<std::weak_ptr<KPItemData>> hiddenModels;
size_t keptHiddenValues = KPItemData::kKeptHiddenValues;
} // namespace

void KPItemData::setKeptHiddenValuesForTesting(size_t count)
{
    keptHiddenValues = count;
}

void KPItemData::setShown(const KPItemDataPtr& item, bool shown)
{
    auto& hidden = hiddenModels;
    if (!item)
        return;
    if (shown) {
        ++item->m_shownCount;
        return;
    }
    if (item->m_shownCount == 0 || --item->m_shownCount > 0)
        return;
    hidden.push_back(item);
    while (hidden.size() > keptHiddenValues) {
        const KPItemDataPtr oldest = hidden.front().lock();
        hidden.pop_front();
        if (oldest && oldest->m_shownCount == 0)
            oldest->unloadDataContent();
    }
}

const QCollatorSortKey& KPItemData::titleSortKey() const
{
    const int generation = platform::naturalCollationGeneration();
    const bool ofValues = m_loadedDataContent || !m_record;
    if (m_titleSortKey && generation == m_titleSortKeyGeneration && ofValues && m_titleSortKeyOfValues)
        return *m_titleSortKey;
    const QString title = ofValues ? this->title() : m_record.title();
    const size_t hash = qHash(title);
    if (!m_titleSortKey || generation != m_titleSortKeyGeneration || hash != m_titleSortKeyOf ||
        title.size() != m_titleSortKeyLength) {
        m_titleSortKey = platform::naturalSortKey(title);
        m_titleSortKeyOf = hash;
        m_titleSortKeyLength = title.size();
        m_titleSortKeyGeneration = generation;
    }
    m_titleSortKeyOfValues = ofValues;
    return *m_titleSortKey;
}

void KPItemData::reloadTagFromDBFileInfo()
{
    Values& shown = values();
    shown.tagObjects = liveNames(m_record.tags());
    shown.tagString = joinedNames(shown.tagObjects);
}

QString KPItemData::tagStringOf(const DBFileInfo& record)
{
    return joinedNames(liveNames(record.tags()));
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
    return QUrl::fromLocalFile(filePath());
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
