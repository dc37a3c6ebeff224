// The one test main: every test process gets an offscreen Qt application and a fresh temporary
// home (HOME and the XDG folders), so no test touches the real home, display or network.
#include "Platform/Content/ImageDecodeLimit.h"
#include "Support/TestSupport.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/folivo-test-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray root = QFile::encodeName(home.path());
    QDir().mkpath(home.path() + QStringLiteral("/.local/share"));
    QDir().mkpath(home.path() + QStringLiteral("/.config"));
    QDir().mkpath(home.path() + QStringLiteral("/.cache"));
    QDir().mkpath(home.path() + QStringLiteral("/Documents"));
    QDir().mkpath(home.path() + QStringLiteral("/runtime"));
    ::chmod((root + "/runtime").constData(), 0700);
    qputenv("HOME", root);
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_RUNTIME_DIR", root + "/runtime");
    qputenv("XDG_DOCUMENTS_DIR", root + "/Documents");
    qputenv("FOLIVO_BONJOUR_BACKEND", "directory");
    // Loggers made in tests must not swallow gtest's own output by capturing stdout/stderr.
    qputenv("FOLIVO_LOG_NO_CAPTURE", "1");
    qunsetenv("LANGUAGE");
    qputenv("LANG", "en_US.UTF-8");

    ::testing::InitGoogleTest(&argc, argv);
    const std::unique_ptr<QApplication> app = testsupport::makeApplication
        ? testsupport::makeApplication(argc, argv)
        : std::make_unique<QApplication>(argc, argv);
    QApplication::setOrganizationDomain(QStringLiteral("norlith.com"));
    QApplication::setApplicationName(QStringLiteral("Folivo 2"));
    // The program's decoder limit, as its main sets it.
    platform::ImageDecodeLimit::install();
    return RUN_ALL_TESTS();
}
