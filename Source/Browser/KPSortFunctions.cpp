#include "Browser/KPSortFunctions.h"


#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace sortfunctions {

namespace {

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

char32_t codePointAt(QStringView text, qsizetype& i)
{
    const QChar c = text[i++];
    if (c.isHighSurrogate() && i < text.size() && text[i].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[i++]);
    return c.unicode();
}

int compareFolded(QStringView a, QStringView b, bool numeric)
{
    // Most compared texts share a prefix: skip it unit by unit, then step back to where the
    // difference has to be judged from, the start of a digit run or of a surrogate pair.
    const qsizetype common = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < common && a[i] == b[i])
        ++i;
    if (numeric && i > 0 && ((i < a.size() && isDigit(a[i])) || (i < b.size() && isDigit(b[i])))) {
        while (i > 0 && isDigit(a[i - 1]))
            --i;
    }
    if (i > 0 && i < common && a[i - 1].isHighSurrogate())
        --i;
    qsizetype j = i;
    while (i < a.size() && j < b.size()) {
        if (numeric && isDigit(a[i]) && isDigit(b[j])) {
            // Digit runs by value: leading zeros dropped, then the longer run is the larger
            // number, then digit by digit. Never converted, so any length compares exactly.
            while (i < a.size() && a[i] == u'0')
                ++i;
            while (j < b.size() && b[j] == u'0')
                ++j;
            qsizetype ei = i;
            qsizetype ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            if (ei - i != ej - j)
                return ei - i < ej - j ? -1 : 1;
            for (; i < ei; ++i, ++j) {
                if (a[i] != b[j])
                    return a[i] < b[j] ? -1 : 1;
            }
            continue;
        }
        const char32_t ca = codePointAt(a, i);
        const char32_t cb = codePointAt(b, j);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

constexpr std::array<int, 8> kFlagRanks{0, 7, 4, 6, 5, 3, 1, 2};

// A copy of its own: keys made one after another lie together in memory, where the texts they
// were made from (shared with the store's rows) are spread over the whole heap, and a sort
// reads every key many times.
QString freshCopy(const QString& text)
{
    return QString(text.constData(), text.size());
}

} // namespace

int compareNaturalFolded(QStringView a, QStringView b)
{
    return compareFolded(a, b, true);
}

int compareNames(const QString& a, const QString& b, bool ascending)
{
    const int order = compareFolded(a.toCaseFolded(), b.toCaseFolded(), true);
    return ascending ? order : -order;
}

int compareStrings(const QString& a, const QString& b, bool ascending)
{
    return compareNames(a, b, ascending);
}

int compareStringsCaseInsensitive(const QString& a, const QString& b, bool ascending)
{
    const int order = compareFolded(a.toCaseFolded(), b.toCaseFolded(), false);
    return ascending ? order : -order;
}

int compareValues(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b, bool ascending)
{
    if (!a || !b)
        return a ? -1 : b ? 1 : 0;
    const int order = *a < *b ? -1 : *b < *a ? 1 : 0;
    return ascending ? order : -order;
}

int compareNumbers(const std::optional<qint64>& a, const std::optional<qint64>& b, bool ascending)
{
    if (!a || !b)
        return a ? -1 : b ? 1 : 0;
    const int order = *a < *b ? -1 : *b < *a ? 1 : 0;
    return ascending ? order : -order;
}

int finderLabelRank(qint64 label)
{
    return label >= 0 && label < qint64(kFlagRanks.size()) ? kFlagRanks[size_t(label)] : int(kFlagRanks.size());
}

bool finderLabelGoesFirst(qint64 a, qint64 b, bool ascending)
{
    return ascending ? finderLabelRank(a) <= finderLabelRank(b) : finderLabelRank(a) >= finderLabelRank(b);
}

QVariant recordValue(const DBRecord& record, const QStringList& keyPath)
{
    return record ? record.object()->valueForKeyPathComponents(keyPath) : QVariant();
}

SortKey sortKeyForItem(const KPItemData& item, int fileSortType)
{
    // Read through key paths: no metadata object is made per document.
    static const QStringList kTitle{QStringLiteral("title")};
    static const QStringList kExtension{QStringLiteral("pathExtension")};
    static const QStringList kSize{QStringLiteral("metadata"), QStringLiteral("fileSize")};
    static const QStringList kDates[] = {
        {QStringLiteral("metadata"), QStringLiteral("dateCreated")},
        {QStringLiteral("metadata"), QStringLiteral("dateImported")},
        {QStringLiteral("metadata"), QStringLiteral("dateModified")},
        {QStringLiteral("metadata"), QStringLiteral("dateLastOpen")},
    };
    SortKey key;
    // What the item shows, once loaded, is what it sorts by.
    if (item.bLoadedDataContent()) {
        if (fileSortType == KPFileSortTypeTitle) {
            key.text = freshCopy(item.title().toCaseFolded());
            return key;
        }
        if (fileSortType == KPFileSortTypeDateModified) {
            if (item.dateModified().isValid())
                key.date = item.dateModified();
            return key;
        }
    }
    const DBFileInfo& record = item.data();
    if (!record)
        return key;
    switch (fileSortType) {
    case KPFileSortTypeTitle:
    case KPFileSortTypeExtension:
        key.text = freshCopy(recordValue(record, fileSortType == KPFileSortTypeTitle ? kTitle : kExtension).toString().toCaseFolded());
        break;
    case KPFileSortTypeSize:
        if (const QVariant size = recordValue(record, kSize); size.isValid())
            key.number = size.toLongLong();
        break;
    case KPFileSortTypeDateCreated:
    case KPFileSortTypeDateImported:
    case KPFileSortTypeDateModified:
    case KPFileSortTypeDateLastOpened:
        if (const QDateTime date = recordValue(record, kDates[fileSortType - KPFileSortTypeDateCreated]).toDateTime(); date.isValid())
            key.date = date;
        break;
    default:
        break;
    }
    return key;
}

int compareSortKeys(const SortKey& a, const SortKey& b, int fileSortType, bool ascending)
{
    switch (fileSortType) {
    case KPFileSortTypeTitle:
    case KPFileSortTypeExtension: {
        const int order = compareNaturalFolded(a.text, b.text);
        return ascending ? order : -order;
    }
    case KPFileSortTypeSize:
        return compareNumbers(a.number, b.number, ascending);
    case KPFileSortTypeDateCreated:
    case KPFileSortTypeDateImported:
    case KPFileSortTypeDateModified:
    case KPFileSortTypeDateLastOpened:
        return compareValues(a.date, b.date, ascending);
    default:
        return 0;
    }
}

namespace {
int compareItems(const KPItemData& a, const KPItemData& b, int fileSortType, bool ascending)
{
    return compareSortKeys(sortKeyForItem(a, fileSortType), sortKeyForItem(b, fileSortType), fileSortType, ascending);
}
} // namespace

int compareItemTitle(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeTitle, ascending);
}

int compareItemFileSize(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeSize, ascending);
}

int compareItemExtension(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeExtension, ascending);
}

int compareItemDateCreated(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeDateCreated, ascending);
}

int compareItemDateImported(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeDateImported, ascending);
}

int compareItemDateModified(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeDateModified, ascending);
}

int compareItemDateLastOpened(const KPItemData& a, const KPItemData& b, bool ascending)
{
    return compareItems(a, b, KPFileSortTypeDateLastOpened, ascending);
}

bool isFileSortType(int fileSortType)
{
    return fileSortType >= KPFileSortTypeTitle && fileSortType <= KPFileSortTypeDateLastOpened;
}

void sortKeyedItems(std::vector<KeyedItem>& items, int fileSortType, bool ascending)
{
    if (!isFileSortType(fileSortType) || items.size() < 2)
        return;
    std::sort(items.begin(), items.end(), [&](const KeyedItem& a, const KeyedItem& b) {
        return compareSortKeys(a.key, b.key, fileSortType, ascending) < 0;
    });
}

void sortItems(QList<KPItemDataPtr>& items, int fileSortType, bool ascending)
{
    if (!isFileSortType(fileSortType) || items.size() < 2)
        return;
    std::vector<KeyedItem> keyed;
    keyed.reserve(size_t(items.size()));
    for (KPItemDataPtr& item : items) {
        SortKey key = item ? sortKeyForItem(*item, fileSortType) : SortKey();
        keyed.push_back({std::move(key), std::move(item)});
    }
    sortKeyedItems(keyed, fileSortType, ascending);
    for (size_t i = 0; i < keyed.size(); ++i)
        items[qsizetype(i)] = std::move(keyed[i].item);
}

void sortNames(QStringList& names)
{
    if (names.size() < 2)
        return;
    std::vector<std::pair<QString, QString>> keyed;
    keyed.reserve(size_t(names.size()));
    for (QString& name : names)
        keyed.emplace_back(name.toCaseFolded(), std::move(name));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return compareNaturalFolded(a.first, b.first) < 0; });
    for (size_t i = 0; i < keyed.size(); ++i)
        names[qsizetype(i)] = std::move(keyed[i].second);
}

} // namespace sortfunctions
