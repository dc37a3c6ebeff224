#include "Platform/Metadata/RecentlyUsed.h"

#include "Platform/Foundation/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamReader>
#include <mutex>
#include <sys/stat.h>

namespace platform {

namespace {

// What identifies one version of the list: any rewrite changes at least one of these.
struct ListStamp {
    QString path;
    qint64 size = -1;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    quint64 inode = 0;
    friend bool operator==(const ListStamp&, const ListStamp&) = default;
};

std::optional<ListStamp> stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    ListStamp stamp;
    stamp.path = path;
    stamp.size = st.st_size;
    stamp.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.ctimeNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    stamp.inode = st.st_ino;
    return stamp;
}

// Tuning: how long after its last change a list's stamp is trusted to tell versions apart.
constexpr qint64 kSettleNs = 2LL * 1000 * 1000 * 1000;

struct Cache {
    std::mutex mutex;
    std::optional<ListStamp> stamp; // guarded by mutex
    QHash<QString, QDateTime> table; // guarded by mutex
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

QHash<QString, QDateTime> load(const QString& listPath, qint64 size)
{
    if (size > RecentlyUsed::kMaxFileBytes)
        return {};
    QFile file(listPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return RecentlyUsed::parse(file.read(RecentlyUsed::kMaxFileBytes));
}

// The local path a bookmark's URI names, cleaned; empty for anything that is not a local file.
QString localPathOf(QStringView href)
{
    QUrl url(href.toString());
    if (url.scheme() != QLatin1String("file"))
        return {};
    if (url.host() == QLatin1String("localhost"))
        url.setHost(QString());
    if (!url.host().isEmpty())
        return {};
    const QString path = url.toLocalFile();
    return path.startsWith(u'/') ? QDir::cleanPath(path) : QString();
}

QString lookupKey(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString RecentlyUsed::defaultListPath()
{
    return Paths::dataHome() + u'/' + kFileName;
}

std::optional<QDateTime> RecentlyUsed::lastUsedDate(const QString& path)
{
    return lastUsedDate(path, defaultListPath());
}

std::optional<QDateTime> RecentlyUsed::lastUsedDate(const QString& path, const QString& listPath)
{
    if (path.isEmpty())
        return std::nullopt;
    const auto stamp = stampOf(listPath);
    if (!stamp)
        return std::nullopt;

    // File times are coarse (a few milliseconds), so a same-size rewrite within one tick keeps
    // every stamp field; a list changed that recently is read again instead of trusted.
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1000000;
    const bool settled = nowNs - qMax(stamp->mtimeNs, stamp->ctimeNs) > kSettleNs;

    Cache& shared = cache();
    std::lock_guard lock(shared.mutex);
    if (shared.stamp != stamp || !settled) {
        shared.table = load(listPath, stamp->size);
        shared.stamp = stamp;
    }
    const QString key = lookupKey(path);
    if (const auto it = shared.table.constFind(key); it != shared.table.constEnd())
        return *it;
    // The list may name the file by the path its links resolve to.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty() && canonical != key) {
        if (const auto it = shared.table.constFind(canonical); it != shared.table.constEnd())
            return *it;
    }
    return std::nullopt;
}

QHash<QString, QDateTime> RecentlyUsed::parse(const QByteArray& xbel)
{
    QHash<QString, QDateTime> table;
    QXmlStreamReader reader(xbel);
    int seen = 0;
    while (!reader.atEnd() && seen < kMaxBookmarks) {
        if (reader.readNext() != QXmlStreamReader::StartElement || reader.name() != QLatin1String("bookmark")
            || !reader.namespaceUri().isEmpty())
            continue;
        ++seen;
        const QXmlStreamAttributes attributes = reader.attributes();
        const QString path = localPathOf(attributes.value(QLatin1String("href")));
        if (path.isEmpty())
            continue;
        QDateTime latest;
        for (const char* name : {"added", "modified", "visited"}) {
            const QDateTime time = parseTime(attributes.value(QLatin1String(name)));
            if (time.isValid() && (!latest.isValid() || time > latest))
                latest = time;
        }
        if (!latest.isValid())
            continue;
        auto it = table.find(path);
        if (it == table.end())
            table.insert(path, latest);
        else if (latest > *it)
            *it = latest;
    }
    // A parse error keeps the bookmarks read before it.
    return table;
}

QDateTime RecentlyUsed::parseTime(QStringView text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})(?:[.,](\\d+))?(Z|[+-]\\d{2}(?::?\\d{2})?)?$"));
    const auto match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return {};
    const QDate date(match.capturedView(1).toInt(), match.capturedView(2).toInt(), match.capturedView(3).toInt());
    const QString fraction = (match.captured(7) + QStringLiteral("000")).left(3);
    const QTime time(match.capturedView(4).toInt(), match.capturedView(5).toInt(), match.capturedView(6).toInt(),
                     fraction.toInt());
    if (!date.isValid() || !time.isValid())
        return {};
    // The list writes UTC; an offset, where a writer gives one, is honoured.
    int offsetSeconds = 0;
    const QStringView zone = match.capturedView(8);
    if (!zone.isEmpty() && zone != QLatin1String("Z")) {
        const QString digits = zone.mid(1).toString().remove(u':');
        offsetSeconds = (digits.left(2).toInt() * 60 + digits.mid(2, 2).toInt()) * 60;
        if (zone.front() == u'-')
            offsetSeconds = -offsetSeconds;
    }
    const QDateTime result = QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
    // Writers use the epoch for "never".
    if (!result.isValid() || result.toMSecsSinceEpoch() <= 0)
        return {};
    return result;
}

} // namespace platform
