// What the user-level cases of the SafeBox share: the boxes the tool has open, as its registry
// under the runtime folder lists them, and a tear-down that stops a sealer a failed case left
// (it would otherwise watch the session's home for good).
#pragma once

#include "UserLevel/UserSession.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>

namespace userlevel {

struct OpenBox {
    QString mount;
    qint64 sealerPid = 0;
};

class SafeBoxCase : public ::testing::Test {
protected:
    UserSession session{currentCase()};

    void TearDown() override
    {
        for (const OpenBox& box : openBoxes())
            if (isSealer(box.sealerPid))
                ::kill(pid_t(box.sealerPid), SIGTERM);
    }

    QString safeBoxFolder() const { return session.home() + QStringLiteral("/runtime/Folivo 2/SafeBox"); }
    QPoint at(quint64 window, QPoint offset) { return session.geometry(window).topLeft() + offset; }
    QImage settle(const QString& name) { return session.settledScreenshot(name); }
    QList<OpenBox> openBoxes() const
    {
        QList<OpenBox> boxes;
        const QDir attached(safeBoxFolder() + QStringLiteral("/attached"));
        for (const QString& name : attached.entryList({QStringLiteral("*.json")}, QDir::Files)) {
            QFile file(attached.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject entry = QJsonDocument::fromJson(file.readAll()).object();
            boxes.append({entry.value(QStringLiteral("mount")).toString(),
                          qint64(entry.value(QStringLiteral("sealerPid")).toDouble())});
        }
        return boxes;
    }
    static bool isSealer(qint64 pid)
    {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return pid > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains("__sealer");
    }
};

} // namespace userlevel
