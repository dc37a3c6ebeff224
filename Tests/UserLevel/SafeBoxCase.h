// What the user-level cases of the SafeBox share: the boxes the tool has open, as its registry
// under the runtime folder lists them, and a tear-down that stops a sealer a failed case left
// (it would otherwise watch the session's home for good).
#pragma once

#include "UserLevel/UserSession.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include <csignal>

namespace userlevel {

// Where the SafeBox's pages put things in the main window at scale 1, from its top-left corner:
// the side bar's row, the pages' text, their right-hand button (Continue, Create, the login
// page's Open) and the Cancel beside it (none on the first page and the login page), and a spot
// of plain background that a sheet over the window dims.
namespace safebox {
inline const QPoint kRow(75, 152);
inline const QRect kPageText(400, 240, 380, 60);
inline const QPoint kPageButton(746, 454);
inline const QPoint kCancelButton(660, 454);
inline const QPoint kPlainSpot(900, 600);

inline QPoint at(UserSession& session, quint64 window, QPoint offset)
{
    return session.geometry(window).topLeft() + offset;
}
inline QRect at(UserSession& session, quint64 window, QRect rect)
{
    return rect.translated(session.geometry(window).topLeft());
}
inline QRect button(UserSession& session, quint64 window, QPoint centre)
{
    return QRect(at(session, window, centre) - QPoint(40, 12), QSize(80, 24));
}

// A click at offset, then the page that comes of it: its text differs from the last page's
// (a click's hover and press are drawn on the buttons, away from it), and it stands still.
inline bool clickToNextPage(UserSession& session, quint64 window, QPoint offset, const QString& name)
{
    const QImage before = session.screenshot(name);
    session.click(at(session, window, offset));
    return !session.waitForChange(name, before, at(session, window, kPageText)).isNull();
}

// A page with its right-hand button alone (the first page of explanation, the login page),
// once it has come and stands still.
inline bool waitForLoneButtonPage(UserSession& session, quint64 window, const QString& name, int ms = kStepMs)
{
    return !session.waitForScreen(name, [&](const QImage& shot) {
        return inkIn(shot, button(session, window, kPageButton)) > 50 && inkIn(shot, button(session, window, kCancelButton)) == 0;
    }, ms).isNull();
}

// Side bar › SafeBox, the two pages of explanation, then the password, its check and a hint,
// and Create: whether the box was made.
inline bool makeBox(UserSession& session, quint64 window, const QString& password, const QString& hint)
{
    // A click on the row while the window is still busy with what came before (an import
    // finishing) may be lost; a second click on the row the page shows is harmless, so the row
    // is clicked again until the first page comes.
    bool first = false;
    for (int attempt = 0; attempt < 4 && !first; ++attempt) {
        session.click(at(session, window, kRow));
        first = waitForLoneButtonPage(session, window, QStringLiteral("setup"), 8000);
    }
    if (!first || !clickToNextPage(session, window, kPageButton, QStringLiteral("setup"))
        || !clickToNextPage(session, window, kPageButton, QStringLiteral("password"))) {
        ADD_FAILURE() << "the SafeBox's set-up pages did not come (see the screenshots)";
        return false;
    }
    // The first field has the keys as the page comes.
    session.type(password);
    session.key(QStringLiteral("Tab"));
    session.type(password);
    session.key(QStringLiteral("Tab"));
    session.type(hint);
    session.click(at(session, window, kPageButton));
    const bool made = UserSession::waitUntil([&] { return QFileInfo::exists(session.libraryFolder() + QStringLiteral("/safebox.db")); });
    EXPECT_TRUE(made) << "no SafeBox was made (see the screenshots)";
    return made;
}

// The login page, once it has come and stands still; its field has the keys. (The password
// page's Create sits where its Open does, with a Cancel beside it.)
inline bool waitForLoginPage(UserSession& session, quint64 window)
{
    return waitForLoneButtonPage(session, window, QStringLiteral("login"));
}

// Whether a sheet or an alert is over the window in shot: the window under it is dimmed.
inline bool dimmed(UserSession& session, quint64 window, const QImage& shot)
{
    return dimmedAt(shot, at(session, window, kPlainSpot));
}
} // namespace safebox

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
