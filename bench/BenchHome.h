// Points HOME and the XDG folders of a benchmark process at a folder of its own, so that a run
// never touches the real home and starts from a known library location.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

inline void useBenchHome(const QString& home)
{
    QDir().mkpath(home + QStringLiteral("/Documents"));
    const QByteArray root = QFile::encodeName(home);
    qputenv("HOME", root);
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    qputenv("XDG_DOCUMENTS_DIR", root + "/Documents");
    qputenv("FOLIVO_LOG_NO_CAPTURE", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}
