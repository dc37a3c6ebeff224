#include "Utilities/FlagNames.h"

#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QVariantMap>
#include <mutex>
#include <optional>

namespace {

const QString kNone = QStringLiteral("None");
const QString kNameKey = QStringLiteral("Name");

struct FlagTable {
    std::mutex mutex;
    std::optional<QVariantMap> entries;
    QString path;
};

FlagTable& flagTable()
{
    static FlagTable table;
    return table;
}

// Reads the table when it has not been read yet; the caller holds the mutex.
void loadIfNeeded(FlagTable& table)
{
    if (table.entries)
        return;
    const QString library = platform::Paths::expandTilde(
        platform::UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_Library_Path")));
    if (library.isEmpty())
        return;
    const QString path = QStringLiteral("%1/flagconfig.plist").arg(library);
    const auto value = platform::PropertyList::readFile(path);
    if (!value || value->typeId() != QMetaType::QVariantMap)
        return;
    table.entries = value->toMap();
    table.path = path;
}

} // namespace

QString flagNameForIndex(qint64 index)
{
    if (index == 0)
        return kNone;
    FlagTable& table = flagTable();
    std::lock_guard lock(table.mutex);
    loadIfNeeded(table);
    if (!table.entries)
        return kNone;
    const QVariant name = table.entries->value(QString::number(index)).toMap().value(kNameKey);
    const QString text = name.toString();
    return text.isEmpty() ? kNone : text;
}

void setFlagNameForIndex(qint64 index, const QString& name)
{
    if (index == 0)
        return;
    FlagTable& table = flagTable();
    std::lock_guard lock(table.mutex);
    if (!table.entries)
        return;
    QVariantMap entries = *table.entries;
    const QString key = QString::number(index);
    QVariantMap entry = entries.value(key).toMap();
    entry.insert(kNameKey, name);
    entries.insert(key, entry);
    const auto written = platform::PropertyList::writeFile(entries, table.path, platform::PlistFormat::Xml);
    if (!written) {
        KPLogLogMessage(QStringLiteral("flag name not saved: %1").arg(written.error().toString()));
        return;
    }
    table.entries = entries;
}

void resetFlagNameCacheForTesting()
{
    FlagTable& table = flagTable();
    std::lock_guard lock(table.mutex);
    table.entries.reset();
    table.path.clear();
}
