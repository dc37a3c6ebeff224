#include "Utilities/KPLogger/KPLogClientInfo.h"

#include "Platform/Foundation/Bundle.h"
#include "Utilities/KPLogger/KPLogRecord.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

// The machine description's room in the record, as the viewers' fixed field allows.
constexpr qsizetype kMachineDescriptionMaxBytes = 63;

QString hardwareModel()
{
    QFile f(QStringLiteral("/sys/class/dmi/id/product_name"));
    if (f.open(QIODevice::ReadOnly)) {
        const QString model = QString::fromUtf8(f.readAll()).trimmed();
        if (!model.isEmpty())
            return model;
    }
    return QStringLiteral("PC");
}

} // namespace

QString KPLogClientInfo::osVersion(const QString& release)
{
    static const QRegularExpression numbers(QStringLiteral("^(\\d+)(?:\\.(\\d+))?(?:\\.(\\d+))?"));
    const auto m = numbers.match(release);
    int v[3] = {0, 0, 0};
    for (int i = 0; i < 3 && m.hasMatch(); ++i)
        v[i] = m.captured(i + 1).toInt();
    return QStringLiteral("%1.%2.%3").arg(v[0]).arg(v[1]).arg(v[2]);
}

QString KPLogClientInfo::machineDescription(const QString& model, int cpuCount,
                                            const QString& architecture)
{
    QString text = QStringLiteral("%1 - %2 * %3").arg(model, QString::number(cpuCount), architecture);
    // Cut on a character boundary so the text stays valid UTF-8.
    while (text.toUtf8().size() > kMachineDescriptionMaxBytes)
        text.chop(1);
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.chop(1);
    return text;
}

QByteArray KPLogClientInfo::record()
{
    utsname un{};
    QString sysname = QStringLiteral("Linux");
    QString release;
    QString machine;
    if (::uname(&un) == 0) {
        sysname = QString::fromLocal8Bit(un.sysname);
        release = QString::fromLocal8Bit(un.release);
        machine = QString::fromLocal8Bit(un.machine);
    }
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    QString name = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleName")).toString();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    // The version part is left out unless the bundle really gives a text.
    const QVariant version = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleVersion"));
    return KPLogRecord::clientInfo(KPLogRecord::Stamp::now(), name,
                                   version.typeId() == QMetaType::QString ? version.toString() : QString(),
                                   sysname,
                                   osVersion(release),
                                   machineDescription(hardwareModel(), cpus > 0 ? int(cpus) : 1,
                                                      machine));
}
