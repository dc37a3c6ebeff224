#include "Platform/Foundation/UserDefaults.h"

#include "Platform/Foundation/VariantNumbers.h"

#include "Platform/Foundation/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>
#include <QStandardPaths>
#include <QtDebug>
#include <atomic>
#include <limits>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace platform {

namespace {

const QString kStandardDomain = QStringLiteral("com.norlith.folivo2");
const QString kFolderName = QStringLiteral("Folivo 2");

// How long a writer waits for another process holding the domain's lock file.
constexpr int kLockWaitMs = 5000;
// A lock file older than this belongs to a writer that died mid-write.
constexpr int kStaleLockMs = 30000;

// Which version of the file we last read or wrote. Every writer replaces the file by a
// rename, so a changed inode is a reliable sign that someone else wrote it.
struct FileStamp {
    bool exists = false;
    bool regular = false;
    quint64 inode = 0;
    qint64 mtimeNs = 0;
    qint64 size = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp stampOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {true, S_ISREG(st.st_mode), quint64(st.st_ino), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            qint64(st.st_size)};
}

// Leading white space, an optional sign, then digits; what "42 apples" means as a number.
QByteArray numericPrefix(const QString& text, bool allowFraction)
{
    const QByteArray s = text.trimmed().toLatin1();
    int i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    bool seenDot = false, seenExp = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9')
            continue;
        if (allowFraction && c == '.' && !seenDot && !seenExp) {
            seenDot = true;
            continue;
        }
        if (allowFraction && (c == 'e' || c == 'E') && !seenExp && i > 0
            && i + 1 < s.size()) {
            seenExp = true;
            if (s[i + 1] == '+' || s[i + 1] == '-')
                ++i;
            continue;
        }
        break;
    }
    return s.left(i);
}

qint64 clampedInteger(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::ULongLong || v.metaType().id() == QMetaType::ULong) {
        const quint64 u = v.toULongLong();
        return u > quint64(std::numeric_limits<qint64>::max()) ? std::numeric_limits<qint64>::max()
                                                               : qint64(u);
    }
    if (v.metaType().id() == QMetaType::Double || v.metaType().id() == QMetaType::Float) {
        const double d = v.toDouble();
        if (!(d == d))
            return 0;
        if (d >= 9.2233720368547758e18)
            return std::numeric_limits<qint64>::max();
        if (d <= -9.2233720368547758e18)
            return std::numeric_limits<qint64>::min();
        return qint64(d);
    }
    return v.toLongLong();
}

QString asciiLower(const QString& s) { return s.trimmed().toLower(); }

} // namespace

struct UserDefaults::Private {
    QString domain;
    QString path;

    mutable std::mutex mutex;
    QVariantMap registered;
    QVariantMap stored;
    // Keys changed here and not yet on disk (their value is in stored, or absent there).
    QSet<QString> dirty;
    FileStamp stamp;
    // False while the file exists but could not be read: writing then would destroy it.
    bool fileReadable = true;

    // Shared with pending calls, so that removing an observer while others are being told
    // of a change stops it from being called afterwards.
    struct ObserverEntry {
        quint64 id;
        QString key;
        Observer fn;
        std::atomic<bool> removed{false};
    };
    std::vector<std::shared_ptr<ObserverEntry>> observers;
    quint64 nextObserverId = 1;

    QVariant effective(const QString& key) const
    {
        auto it = stored.constFind(key);
        if (it != stored.cend())
            return *it;
        return registered.value(key);
    }

    // Reads the file as it is now. A missing file is an empty domain; a damaged one is moved
    // aside so the next write cannot destroy what may still be recoverable by hand.
    std::optional<QVariantMap> readFile()
    {
        const FileStamp now = stampOf(path);
        if (!now.exists) {
            stamp = now;
            fileReadable = true;
            return QVariantMap();
        }
        // Opening a FIFO would block; a folder cannot be read. Neither is ours to replace.
        if (!now.regular) {
            qWarning().noquote() << "UserDefaults:" << path << "is not a regular file;"
                                 << "leaving it untouched and keeping settings in memory only";
            fileReadable = false;
            return std::nullopt;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qWarning().noquote() << "UserDefaults: cannot read" << path << "-" << file.errorString()
                                 << "; keeping it untouched and settings in memory only";
            fileReadable = false;
            return std::nullopt;
        }
        const QByteArray bytes = file.readAll();
        file.close();
        auto value = PropertyList::read(bytes);
        if (value && value->metaType().id() == QMetaType::QVariantMap) {
            stamp = now;
            fileReadable = true;
            return value->toMap();
        }
        const QString why = value ? QStringLiteral("its top level is not a dictionary")
                                  : value.error().message;
        QString aside = QStringLiteral("%1.corrupt-%2")
                            .arg(path, QDateTime::currentDateTimeUtc().toString(
                                           QStringLiteral("yyyyMMdd-HHmmss")));
        for (int n = 2; QFileInfo::exists(aside); ++n)
            aside = QStringLiteral("%1.corrupt-%2-%3")
                        .arg(path, QDateTime::currentDateTimeUtc().toString(
                                       QStringLiteral("yyyyMMdd-HHmmss")))
                        .arg(n);
        if (!QFile::rename(path, aside)) {
            qWarning().noquote() << "UserDefaults: damaged settings file" << path << "(" << why
                                 << ") could not be moved aside; leaving it untouched";
            fileReadable = false;
            return std::nullopt;
        }
        qWarning().noquote() << "UserDefaults: damaged settings file" << path << "(" << why
                             << ") moved to" << aside << "; starting with empty settings";
        stamp = stampOf(path);
        fileReadable = true;
        return QVariantMap();
    }

    // Brings in another writer's changes (keys changed here win) and writes what is dirty.
    // Called with mutex held; fills changedKeys with keys whose stored value changed.
    bool syncLocked(QSet<QString>& changedKeys)
    {
        if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
            qWarning().noquote() << "UserDefaults: cannot create the folder of" << path;
            return false;
        }
        QLockFile lock(path + QStringLiteral(".lock"));
        lock.setStaleLockTime(kStaleLockMs);
        if (!lock.tryLock(kLockWaitMs)) {
            qWarning().noquote() << "UserDefaults: another process keeps" << path
                                 << "locked; changes stay pending";
            return false;
        }
        QVariantMap merged = stored;
        if (!(stampOf(path) == stamp) || !fileReadable) {
            auto disk = readFile();
            if (!disk)
                return false;
            merged = *disk;
            for (const QString& key : std::as_const(dirty)) {
                auto it = stored.constFind(key);
                if (it != stored.cend())
                    merged.insert(key, *it);
                else
                    merged.remove(key);
            }
        }
        if (!dirty.isEmpty() || merged != stored) {
            if (auto ok = PropertyList::writeFile(merged, path, PlistFormat::Xml); !ok) {
                qWarning().noquote() << "UserDefaults:" << ok.error().toString();
                return false;
            }
            stamp = stampOf(path);
        }
        for (auto it = merged.cbegin(); it != merged.cend(); ++it)
            if (!dirty.contains(it.key()) && stored.value(it.key()) != it.value())
                changedKeys.insert(it.key());
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            if (!dirty.contains(it.key()) && !merged.contains(it.key()))
                changedKeys.insert(it.key());
        stored = merged;
        dirty.clear();
        return true;
    }

    struct Call {
        std::shared_ptr<ObserverEntry> entry;
        QVariant value;
    };

    std::vector<Call> callsFor(const QSet<QString>& keys) const
    {
        std::vector<Call> calls;
        for (const auto& o : observers)
            if (keys.contains(o->key))
                calls.push_back({o, effective(o->key)});
        return calls;
    }

    static void run(const std::vector<Call>& calls)
    {
        for (const auto& call : calls)
            if (!call.entry->removed.load())
                call.entry->fn(call.entry->key, call.value);
    }
};

UserDefaults& UserDefaults::standardUserDefaults()
{
    // Never destroyed: code running during exit may still read settings.
    static UserDefaults* instance = new UserDefaults(kStandardDomain);
    return *instance;
}

UserDefaults& UserDefaults::domainNamed(const QString& domain)
{
    if (domain == kStandardDomain)
        return standardUserDefaults();
    static std::mutex registryMutex;
    static auto* registry = new std::map<QString, std::unique_ptr<UserDefaults>>();
    std::lock_guard guard(registryMutex);
    auto& slot = (*registry)[domain];
    if (!slot)
        slot = std::make_unique<UserDefaults>(domain);
    return *slot;
}

UserDefaults::UserDefaults(const QString& domain, const QString& filePath)
    : d(std::make_shared<Private>())
{
    d->domain = domain;
    d->path = filePath.isEmpty() ? defaultFilePath(domain) : filePath;
    std::lock_guard guard(d->mutex);
    if (auto values = d->readFile())
        d->stored = *values;
}

UserDefaults::~UserDefaults()
{
    // Write-through leaves nothing pending unless a write failed; give it one more try.
    std::lock_guard guard(d->mutex);
    QSet<QString> ignored;
    if (!d->dirty.isEmpty())
        d->syncLocked(ignored);
}

QString UserDefaults::domain() const { return d->domain; }
QString UserDefaults::filePath() const { return d->path; }

QString UserDefaults::defaultFilePath(const QString& domain)
{
    QString name = domain;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        name.prepend(QLatin1Char('_'));
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1Char('/') + kFolderName + QLatin1Char('/') + name + QStringLiteral(".plist");
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    std::vector<Private::Call> calls;
    {
        std::lock_guard guard(d->mutex);
        QSet<QString> changed;
        for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
            if (!d->stored.contains(it.key()) && d->registered.value(it.key()) != it.value())
                changed.insert(it.key());
            d->registered.insert(it.key(), it.value());
        }
        calls = d->callsFor(changed);
    }
    Private::run(calls);
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    std::lock_guard guard(d->mutex);
    return d->effective(key);
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    const int type = v.metaType().id();
    if (type == QMetaType::Bool)
        return v.toBool();
    if (isNumberType(type))
        return v.toDouble() != 0.0;
    if (type != QMetaType::QString)
        return false;
    // As text: "YES"/"true" (by first letter) or a number other than zero.
    const QString s = asciiLower(v.toString());
    if (s.startsWith(QLatin1Char('y')) || s.startsWith(QLatin1Char('t')))
        return true;
    const QByteArray number = numericPrefix(s, true);
    return !number.isEmpty() && number.toDouble() != 0.0;
}

qint64 UserDefaults::integerForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    const int type = v.metaType().id();
    if (type == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (isNumberType(type))
        return clampedInteger(v);
    if (type != QMetaType::QString)
        return 0;
    const QString s = asciiLower(v.toString());
    if (s == QLatin1String("yes") || s == QLatin1String("true"))
        return 1;
    const QByteArray digits = numericPrefix(s, false);
    bool ok = false;
    const qint64 n = digits.toLongLong(&ok);
    if (ok)
        return n;
    // Digits beyond the 64-bit range saturate rather than wrap.
    if (digits.size() > 1 && digits.back() >= '0' && digits.back() <= '9')
        return digits.startsWith('-') ? std::numeric_limits<qint64>::min()
                                      : std::numeric_limits<qint64>::max();
    return 0;
}

double UserDefaults::doubleForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    const int type = v.metaType().id();
    if (type == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    if (isNumberType(type))
        return v.toDouble();
    if (type != QMetaType::QString)
        return 0.0;
    const QString s = asciiLower(v.toString());
    if (s == QLatin1String("yes") || s == QLatin1String("true"))
        return 1.0;
    return numericPrefix(s, true).toDouble();
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    const int type = v.metaType().id();
    if (type == QMetaType::QString)
        return v.toString();
    if (type == QMetaType::Bool)
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (isNumberType(type))
        return v.toString();
    return {};
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    const int type = v.metaType().id();
    return type == QMetaType::QVariantList || type == QMetaType::QStringList ? v.toList()
                                                                            : QVariantList();
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    return v.metaType().id() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

QByteArray UserDefaults::dataForKey(const QString& key) const
{
    const QVariant v = objectForKey(key);
    return v.metaType().id() == QMetaType::QByteArray ? v.toByteArray() : QByteArray();
}

void UserDefaults::setObject(const QVariant& value, const QString& key)
{
    QVariant canonical;
    if (value.isValid()) {
        // Refuse now what could never be written, rather than fail every later write; and
        // keep the value in the form it will have when read back (QStringList becomes a
        // list, int a 64-bit integer, a date whole seconds), so that nothing looks changed
        // after a re-read. Hence the format the file is written in.
        auto bytes = PropertyList::write(value, PlistFormat::Xml);
        auto back = bytes ? PropertyList::read(*bytes) : Result<QVariant>();
        if (!bytes || !back) {
            qWarning().noquote() << "UserDefaults: not storing" << key << "-"
                                 << (bytes ? back.error().message : bytes.error().message);
            return;
        }
        canonical = *back;
    }
    std::vector<Private::Call> calls;
    {
        std::lock_guard guard(d->mutex);
        QSet<QString> changed;
        const QVariant before = d->effective(key);
        if (canonical.isValid())
            d->stored.insert(key, canonical);
        else
            d->stored.remove(key);
        d->dirty.insert(key);
        d->syncLocked(changed);
        if (d->effective(key) != before)
            changed.insert(key);
        calls = d->callsFor(changed);
    }
    Private::run(calls);
}

void UserDefaults::setBool(bool value, const QString& key) { setObject(value, key); }
void UserDefaults::setInteger(qint64 value, const QString& key) { setObject(value, key); }
void UserDefaults::setDouble(double value, const QString& key) { setObject(value, key); }
void UserDefaults::setString(const QString& value, const QString& key) { setObject(value, key); }
void UserDefaults::removeObjectForKey(const QString& key) { setObject(QVariant(), key); }

bool UserDefaults::synchronize()
{
    std::vector<Private::Call> calls;
    bool ok = false;
    {
        std::lock_guard guard(d->mutex);
        QSet<QString> changed;
        ok = d->syncLocked(changed);
        calls = d->callsFor(changed);
    }
    Private::run(calls);
    return ok;
}

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    std::lock_guard guard(d->mutex);
    QVariantMap all = d->registered;
    all.insert(d->stored);
    return all;
}

UserDefaults::ObserverToken UserDefaults::addObserver(const QString& key, Observer observer)
{
    std::lock_guard guard(d->mutex);
    const quint64 id = d->nextObserverId++;
    auto entry = std::make_shared<Private::ObserverEntry>();
    entry->id = id;
    entry->key = key;
    entry->fn = std::move(observer);
    d->observers.push_back(std::move(entry));
    return ObserverToken(d, id);
}

UserDefaults::ObserverToken::ObserverToken(std::weak_ptr<Private> owner, quint64 id)
    : m_owner(std::move(owner)), m_id(id)
{
}

UserDefaults::ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_owner(std::move(other.m_owner)), m_id(std::exchange(other.m_id, 0))
{
}

UserDefaults::ObserverToken& UserDefaults::ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        reset();
        m_owner = std::move(other.m_owner);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

UserDefaults::ObserverToken::~ObserverToken() { reset(); }

void UserDefaults::ObserverToken::reset()
{
    if (m_id == 0)
        return;
    if (auto owner = m_owner.lock()) {
        std::lock_guard guard(owner->mutex);
        std::erase_if(owner->observers, [this](const auto& o) {
            if (o->id != m_id)
                return false;
            o->removed = true;
            return true;
        });
    }
    m_owner.reset();
    m_id = 0;
}

} // namespace platform
