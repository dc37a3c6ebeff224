#include "Utilities/GlobalFun.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FinderInfo.h"
#include "Utilities/HelperServices.h"
#include "Utilities/ImageHelpers.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/SystemHelpers.h"

#include <QFileInfo>
#include <QLocale>
#include <QtDebug>
#include <atomic>
#include <ctime>

namespace {

const QString kRecentLibrariesKey = QStringLiteral("Array_RecentLibrary_Paths");
const QString kPathKey = QStringLiteral("Path");

std::atomic<std::clock_t> g_beginClock{0};

// Sets bits of the item's Finder flags, keeping the rest of its Finder information.
bool addFinderFlags(const QString& path, quint16 bits)
{
    auto info = FinderInfo::read(path);
    if (!info)
        return false;
    info->setFlags(info->flags() | bits);
    return info->write(path).has_value();
}

} // namespace

void GlobalFun::setIcon(const QString& iconPath, const QString& directory)
{
    if (iconPath.isEmpty()) {
        qWarning().noquote() << "** Couldn't make a CFURLRef for the file.";
        return;
    }
    if (!QFileInfo::exists(iconPath)) {
        qWarning().noquote() << "** Couldn't get an FSRef for the file.\n";
        return;
    }
    setAsCustomIconForDirectory(directory, QFileInfo(iconPath).absoluteFilePath());
}

bool GlobalFun::setAsCustomIconForDirectory(const QString& directory, const QString& iconPath)
{
    bool isDirectory = false;
    if (directory.isEmpty() || !platform::FileManager::fileExists(directory, &isDirectory) || !isDirectory)
        return false;
    const auto& services = HelperServices::current();
    return services.setFolderIcon && services.setFolderIcon(iconPath, directory);
}

QImage GlobalFun::LoadImage(const QString& path)
{
    return createCGImageFromFile(path);
}

QImage GlobalFun::NSImageToCGImage(const QImage& image)
{
    return createCGImageFromImage(image);
}

QImage GlobalFun::imageWithAlpha(qreal alpha, const QImage& source)
{
    return ::imageWithAlpha(source, alpha);
}

QImage GlobalFun::CreateBitmapContextRef(const QSizeF& size)
{
    return createBitmapContext(size.width(), size.height());
}

QPainterPath GlobalFun::bezierPathWithRoundRectInRect(const QRectF& rect, qreal radius)
{
    return roundRectBezierPath(rect, radius);
}

QPainterPath GlobalFun::CreateRoundRectPathInRect(const QRectF& rect, qreal radius)
{
    return createRoundRectPath(rect, radius);
}

QVariant GlobalFun::AttributeFromFile(const QString& path, const QString& type)
{
    return fileAttributeForKey(path, type);
}

std::optional<QDateTime> GlobalFun::dateLastOpenDateByFile(const QString& path)
{
    return lastUsedDateOfFile(path);
}

int GlobalFun::finderLabelForURL(const QUrl& url)
{
    return url.isLocalFile() ? finderLabelOfFile(url.toLocalFile()) : 0;
}

bool GlobalFun::isAlias(const QString& path)
{
    return isAliasFile(path);
}

bool GlobalFun::hasBundle(const QString& path)
{
    return hasBundleFlag(path);
}

bool GlobalFun::ChangeFileKind(const QString& path)
{
    return addFinderFlags(path, FinderInfo::kHasBundle);
}

bool GlobalFun::SetFileWithHidenAttr(const QString& path)
{
    return addFinderFlags(path, FinderInfo::kIsInvisible);
}

int GlobalFun::flagForPath(const QString& path)
{
    const auto info = FinderInfo::read(path);
    return info ? (info->reservedWord() & 0xFF) : 0;
}

bool GlobalFun::setFlagForPath(const QString& path, bool isFlag)
{
    auto info = FinderInfo::read(path);
    if (!info)
        return false;
    info->setReservedWord(quint16((info->reservedWord() & 0xFF00) | (isFlag ? 1 : 0)));
    return info->write(path).has_value();
}

QString GlobalFun::volnameNameForPath(const QString& urlString)
{
    return volumeNameForURLString(urlString);
}

bool GlobalFun::isCommandKeyDownRightNow()
{
    return isCommandKeyDown();
}

bool GlobalFun::isGermanVersion()
{
    const QVariantList languages =
        platform::UserDefaults::standardUserDefaults().arrayForKey(QStringLiteral("AppleLanguages"));
    if (!languages.isEmpty())
        return languages.first().toString() == QLatin1String("de");
    return QLocale::system().language() == QLocale::German;
}

void GlobalFun::begin()
{
    g_beginClock.store(std::clock());
}

qint64 GlobalFun::end()
{
    const double seconds = double(std::clock() - g_beginClock.load()) / 1000000.0;
    qInfo().noquote() << QStringLiteral("函数执行时间为：%1 秒").arg(seconds, 0, 'f', 6);
    return qint64(seconds);
}

bool setFileCreationDate(const QDateTime& date, const QString& path)
{
    if (path.isEmpty() || !date.isValid() || !platform::FileManager::itemExists(path))
        return false;
    KPLogLogMessage(QStringLiteral("creation date not set, the file system keeps it: %1").arg(path));
    return false;
}

bool setFileModificationDate(const QDateTime& date, const QString& path)
{
    if (path.isEmpty() || !date.isValid() || !platform::FileManager::itemExists(path))
        return false;
    const auto set = platform::FileManager::setModificationDate(path, date);
    if (!set)
        KPLogLogMessage(set.error().toString());
    return set.has_value();
}

void addRecentLibraryPath(const QString& path)
{
    if (path.isEmpty())
        return;
    platform::UserDefaults& defaults = platform::UserDefaults::standardUserDefaults();
    QVariantList recent = defaults.arrayForKey(kRecentLibrariesKey);
    for (const QVariant& entry : recent) {
        if (entry.toMap().value(kPathKey).toString() == path)
            return;
    }
    recent.append(QVariantMap{{kPathKey, path}});
    defaults.setObject(recent, kRecentLibrariesKey);
    if (!defaults.synchronize())
        KPLogLogMessage(QStringLiteral("recent libraries not saved: %1").arg(path));
}
