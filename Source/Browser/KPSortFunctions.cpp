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
    qsizetype i = 0;
    qsizetype j = 0;
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

SortKey sortKeyForItem(const KPItemData& item, int fileSortType)
{
    SortKey key;
    const DBFileInfo& record = item.data();
    if (!record)
        return key;
    // Read through key paths: no metadata object is made per document.
    auto metadataValue = [&](const char* name) {
        return record.valueForKeyPath(QStringLiteral("metadata.") + QLatin1String(name));
    };
    auto date = [&](const char* name) {
        const QDateTime value = metadataValue(name).toDateTime();
        return value.isValid() ? std::optional<QDateTime>(value) : std::nullopt;
    };
    switch (fileSortType) {
    case KPFileSortTypeTitle:
        key.text = record.title().toCaseFolded();
        break;
    case KPFileSortTypeExtension:
        key.text = record.pathExtension().toCaseFolded();
        break;
    case KPFileSortTypeSize: {
        const QVariant size = metadataValue("fileSize");
        if (size.isValid())
            key.number = size.toLongLong();
        break;
    }
    case KPFileSortTypeDateCreated:
        key.date = date("dateCreated");
        break;
    case KPFileSortTypeDateImported:
        key.date = date("dateImported");
        break;
    case KPFileSortTypeDateModified:
        key.date = date("dateModified");
        break;
    case KPFileSortTypeDateLastOpened:
        key.date = date("dateLastOpen");
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
    std::stable_sort(items.begin(), items.end(), [&](const KeyedItem& a, const KeyedItem& b) {
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
