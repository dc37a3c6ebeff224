// Fakes for tests of the desktop services: a launcher that records what would run, and a
// private set of XDG folders holding the desktop entries and mimeapps.list files a test writes.
#pragma once

#include "Platform/Workspace/ProcessLauncher.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

namespace testsupport {

class RecordingLauncher final : public platform::ProcessLauncher {
public:
    // Each launch as program followed by its arguments.
    QList<QStringList> launches;
    // Programs canFind() knows; programs whose start fails.
    QSet<QString> findable;
    QSet<QString> failing;

    platform::Result<qint64> startDetached(const QString& program, const QStringList& arguments,
                                           const QString& = QString()) override
    {
        if (failing.contains(program))
            return platform::fail(QStringLiteral("Test"), 1, QStringLiteral("cannot start ") + program);
        launches.append(QStringList{program} + arguments);
        return qint64(1000 + launches.size());
    }
    bool canFind(const QString& program) const override { return findable.contains(program); }
};

// Points XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_DATA_DIRS and XDG_CONFIG_DIRS at fresh folders, so
// neither the real system's applications nor another test's files are seen.
struct XdgSandbox {
    QString dataHome;
    QString configHome;
    QString systemData;
    QString systemConfig;

    XdgSandbox()
    {
        const QString root = makeTempDir(QStringLiteral("xdg"));
        dataHome = root + QStringLiteral("/data-home");
        configHome = root + QStringLiteral("/config-home");
        systemData = root + QStringLiteral("/system-data");
        systemConfig = root + QStringLiteral("/system-config");
        qputenv("XDG_DATA_HOME", dataHome.toUtf8());
        qputenv("XDG_CONFIG_HOME", configHome.toUtf8());
        // The MIME database is system data read through XDG_DATA_DIRS: keep it visible
        // through a folder that holds nothing else.
        const QString mimeOnly = root + QStringLiteral("/mime-only");
        QDir().mkpath(mimeOnly);
        QFile::link(QStringLiteral("/usr/share/mime"), mimeOnly + QStringLiteral("/mime"));
        qputenv("XDG_DATA_DIRS", (systemData + QLatin1Char(':') + mimeOnly).toUtf8());
        qputenv("XDG_CONFIG_DIRS", systemConfig.toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    // Writes "<dataDir>/applications/<relative>" (relative may hold sub-folders).
    QString writeApplication(const QString& dataDir, const QString& relative, const QByteArray& text)
    {
        const QString path = dataDir + QStringLiteral("/applications/") + relative;
        writeFile(path, text);
        return path;
    }
    // A plain application entry with the given Exec and MimeType.
    QString writeApp(const QString& id, const QString& name, const QString& exec,
                     const QString& mimeTypes, const QByteArray& extra = QByteArray(),
                     const QString& dataDir = QString())
    {
        const QByteArray text = "[Desktop Entry]\nType=Application\nName=" + name.toUtf8() + "\nExec="
                                + exec.toUtf8() + "\nMimeType=" + mimeTypes.toUtf8() + "\n" + extra;
        return writeApplication(dataDir.isEmpty() ? systemData : dataDir, id, text);
    }
    void writeUserMimeApps(const QByteArray& text)
    {
        writeFile(configHome + QStringLiteral("/mimeapps.list"), text);
    }
};

} // namespace testsupport

// Readable QString values in test failure messages.
#include <ostream>
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
