#include "Platform/Foundation/Bundle.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/PropertyList.h"

#include <QDir>
#include <QFileInfo>
#include <QtDebug>
#include <mutex>
#include <optional>

namespace platform {

namespace {

QString locateResources()
{
    const QString fromEnv = qEnvironmentVariable("FOLIVO_RESOURCES");
    if (!fromEnv.isEmpty() && QFileInfo(fromEnv).isDir())
        return QDir(fromEnv).absolutePath();
    // /proc/self/exe works before (and without) a QCoreApplication.
    const QString exeDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QString installed = QFileInfo(exeDir).absolutePath() + QStringLiteral("/../share/folivo2");
    if (!QFileInfo(installed).isDir())
        qWarning().noquote() << "Bundle: no resource folder at" << QDir::cleanPath(installed)
                             << "and FOLIVO_RESOURCES is not set";
    return QDir::cleanPath(installed);
}

// True when path, once cleaned, still lies inside root.
bool isInside(const QString& root, const QString& path)
{
    const QString cleanRoot = QDir::cleanPath(root);
    const QString cleanPath = QDir::cleanPath(path);
    return cleanPath.startsWith(cleanRoot + QLatin1Char('/'));
}

} // namespace

struct Bundle::Private {
    QString resourcePath;
    std::once_flag infoOnce;
    QVariantMap info;

    QStringList searchFolders(const QString& subdirectory) const
    {
        QString base = resourcePath;
        if (!subdirectory.isEmpty())
            base += QLatin1Char('/') + subdirectory;
        QStringList folders{base};
        const QStringList languages = Localization::shared().languages();
        for (const QString& lang : languages)
            folders.append(base + QLatin1Char('/') + lang + QStringLiteral(".lproj"));
        return folders;
    }
};

Bundle& Bundle::mainBundle()
{
    static Bundle* instance = new Bundle(locateResources());
    return *instance;
}

Bundle::Bundle(const QString& resourcePath) : d(std::make_unique<Private>())
{
    d->resourcePath = resourcePath;
}

Bundle::~Bundle() = default;

QString Bundle::resourcePath() const { return d->resourcePath; }

QVariantMap Bundle::infoDictionary() const
{
    std::call_once(d->infoOnce, [this] {
        const QString path = d->resourcePath + QStringLiteral("/Info.plist");
        auto value = PropertyList::readFile(path);
        if (!value || value->metaType().id() != QMetaType::QVariantMap) {
            qWarning().noquote() << "Bundle: no information dictionary:"
                                 << (value ? path + QStringLiteral(" is not a dictionary")
                                           : value.error().message);
            return;
        }
        d->info = value->toMap();
    });
    return d->info;
}

QVariant Bundle::objectForInfoDictionaryKey(const QString& key) const
{
    return infoDictionary().value(key);
}

QString Bundle::bundleIdentifier() const
{
    return objectForInfoDictionaryKey(QStringLiteral("CFBundleIdentifier")).toString();
}

QString Bundle::pathForResource(const QString& name, const QString& type,
                                const QString& subdirectory) const
{
    if (name.isEmpty())
        return {};
    QString fileName = name;
    QString extension = type.startsWith(QLatin1Char('.')) ? type.mid(1) : type;
    if (!extension.isEmpty())
        fileName += QLatin1Char('.') + extension;
    for (const QString& folder : d->searchFolders(subdirectory)) {
        const QString candidate = folder + QLatin1Char('/') + fileName;
        if (isInside(d->resourcePath, candidate) && QFileInfo::exists(candidate))
            return QDir::cleanPath(candidate);
    }
    return {};
}

QStringList Bundle::pathsForResourcesOfType(const QString& type, const QString& subdirectory) const
{
    const QString extension = type.startsWith(QLatin1Char('.')) ? type.mid(1) : type;
    QStringList paths;
    for (const QString& folder : d->searchFolders(subdirectory)) {
        if (!isInside(d->resourcePath, folder + QStringLiteral("/x")))
            continue;
        QDir dir(folder);
        const QStringList filters = extension.isEmpty()
            ? QStringList()
            : QStringList{QStringLiteral("*.") + extension};
        const QStringList names =
            dir.entryList(filters, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                          QDir::Name);
        for (const QString& n : names) {
            // Folders count only as packages with the asked extension (".theme"), not as
            // the language folders themselves.
            if (extension.isEmpty() && QFileInfo(dir.filePath(n)).isDir())
                continue;
            paths.append(QDir::cleanPath(dir.filePath(n)));
        }
    }
    return paths;
}

} // namespace platform
