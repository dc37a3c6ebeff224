#include "Utilities/SystemHelpers.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/StringHash.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QGuiApplication>
#include <array>

QString temporaryFolder()
{
    const auto folder = platform::Paths::temporaryDirectory();
    if (!folder) {
        KPLogLogMessage(QStringLiteral("temporary folder unavailable: %1").arg(folder.error().toString()));
        return {};
    }
    return *folder;
}

QString logFilePath()
{
    QString identifier = platform::Bundle::mainBundle().bundleIdentifier();
    if (identifier.isEmpty())
        identifier = QStringLiteral("com.norlith.folivo2");
    return QStringLiteral("%1/%2/Logs/Folivo 2.log")
        .arg(platform::Paths::applicationSupportDirectory(), identifier);
}

QString realHomeDirectory()
{
    const QString home = platform::Paths::realHomeDirectory();
    return home.isEmpty() ? QString() : home;
}

QString generateUUIDString()
{
    return platform::newUUIDString();
}

bool isCommandKeyDown()
{
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

bool isShiftKeyDown()
{
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

bool isOptionKeyDown()
{
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
}

quint32 crc32OfBytes(const void* bytes, std::size_t length)
{
    if (length == 0 || !bytes)
        return 0;
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    quint32 crc = 0xFFFFFFFFu;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < length; ++i)
        crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QString platformUUIDString()
{
    // systemd and D-Bus keep the machine's identity as 32 hexadecimal digits.
    for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        QFile file(QString::fromLatin1(path));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray id = file.readLine().trimmed().toUpper();
        if (id.size() != 32 || QByteArray::fromHex(id).size() != 16)
            continue;
        return QString::fromLatin1(id.left(8) + '-' + id.mid(8, 4) + '-' + id.mid(12, 4) + '-'
                                   + id.mid(16, 4) + '-' + id.mid(20));
    }
    return {};
}
