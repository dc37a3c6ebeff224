// SANE's test backend with two devices for this test process. SANE reads the folder at
// sane_init, so this runs before any service starts; a trailing colon would add the system's
// folder, whose backends probe the network.
#pragma once

#include "Support/TestSupport.h"

#include <QFile>
#include <QString>

namespace scannertest {

inline bool useTestBackend()
{
    static const bool available = [] {
        const QString dir = testsupport::makeTempDir(QStringLiteral("sane"));
        testsupport::writeFile(dir + QStringLiteral("/dll.conf"), "test\n");
        testsupport::writeFile(dir + QStringLiteral("/test.conf"), "number_of_devices 2\n");
        qputenv("SANE_CONFIG_DIR", dir.toLocal8Bit());
        for (const char* lib : {"/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1", "/usr/lib/aarch64-linux-gnu/sane/libsane-test.so.1",
                                "/usr/lib/sane/libsane-test.so.1"})
            if (QFile::exists(QString::fromLatin1(lib)))
                return true;
        return false;
    }();
    return available;
}

} // namespace scannertest
