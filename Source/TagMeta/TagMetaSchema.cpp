// TagMeta: the schema registration file that tells other TagMeta programs which keys this
// program uses.

#include "TagMeta/TagMeta.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "TagMeta/TagMetaClock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

namespace {

// Readers pick the file up at once; it is removed again so stale schemas do not pile up.
constexpr int kSchemaFileLifetimeMs = 2000;

} // namespace

QString TagMeta::schemaRegisterFolder()
{
    return platform::Paths::applicationSupportDirectory() + QStringLiteral("/TagMeta/schemaregister");
}

void TagMeta::registerUsualOMAttributes()
{
    const QDateTime now = TagMetaClock::now();
    const QVariantMap attributes{
        {kMDItemTMUserTags, QVariantList{QStringLiteral("tagMeta1"), QStringLiteral("tagMeta2")}},
        {kMDItemTMUserTagTime, now},
        {kMDItemTMDocumentDate, now},
        {kMDItemTMManaged, true},
        {kMDItemTMBookmarks, QVariantList{QStringLiteral("bookmark1"), QStringLiteral("bookmark2")}}};
    // The bundle's folder name stands for the application bundle's file name.
    QString appName = QCoreApplication::applicationName();
    const QString resources = platform::Bundle::mainBundle().resourcePath();
    if (!resources.isEmpty())
        appName = QDir(resources).dirName();
    registerOMAttributes(attributes, appName);
}

void TagMeta::registerOMAttributes(const QVariantMap& attributes, const QString& appName)
{
    const QString folder = schemaRegisterFolder();
    QDir().mkpath(folder);
    QString safeName = appName;
    safeName.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString path = folder + QLatin1Char('/') + safeName + QStringLiteral(".tagmetaschema");
    if (!platform::PropertyList::writeFile(attributes, path, platform::PlistFormat::Xml))
        return;
    QTimer::singleShot(kSchemaFileLifetimeMs, [path] { removeSchemaFile(path); });
}

void TagMeta::removeSchemaFile(const QString& path)
{
    if (path.contains(QLatin1String("/TagMeta/schemaregister")))
        QFile::remove(path);
}
