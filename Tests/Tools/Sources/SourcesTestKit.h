// A library with both stores, a manager and watched folders on disk (the index-folder sync kit),
// a scratch real home, and a stand-in for the main side bar: it stores a folder on
// "AddIndexFolder" and stops its syncer on "RemoveIndexFolder", recording both.
#pragma once

#include "../../IndexFolder/IndexFolderSyncTestKit.h"

#include "Platform/Kit/Alert.h"
#include "Tools/Sources/IndexFolderType.h"
#include "Tools/Sources/SourceServices.h"

#include <QTest>
#include <QUrl>
#include <sqlite3.h>

namespace sourcestest {

using namespace indexfoldertest;

inline void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
    sqlite3_free(message);
    sqlite3_close(db);
}

class SourcesFixture : public SyncFixture {
protected:
    void SetUp() override
    {
        SyncFixture::SetUp();
        home = testsupport::makeTempDir(QStringLiteral("home"));
        auto& center = platform::NotificationCenter::defaultCenter();
        tokens.push_back(center.addObserver(AddIndexFolderNotification, [this](const platform::Notification& note) {
            const QVariantMap info = note.object.toMap();
            added.append(info);
            auto folder = DBRecord::insertNewObject<DBIndexFolder>(libraryEngine->context());
            folder.setPath(info.value(IndexFolderDicInfo::Path).toUrl().toLocalFile());
            folder.setTitle(info.value(IndexFolderDicInfo::Title).toString());
            folder.setType(info.value(IndexFolderDicInfo::Type).toString());
            EXPECT_TRUE(libraryEngine->writeToDiskAndWait());
        }));
        tokens.push_back(center.addObserver(RemoveIndexFolderNotification, [this](const platform::Notification& note) {
            removed.append(note.object.toString());
            if (DBIndexFolder folder = findFolder(note.object.toString()))
                manager->stopIndexFolder(folder);
        }));
        platform::kit::Alert::setPresenterForTesting([this](const platform::kit::Alert& alert) {
            alerts.append(alert.messageText());
            return platform::kit::Alert::kDefaultReturn;
        });
    }
    void TearDown() override
    {
        platform::kit::Alert::setPresenterForTesting({});
        SyncFixture::TearDown();
    }

    SourceServices sourceServices()
    {
        SourceServices s;
        s.stores = services();
        s.realHome = home;
        return s;
    }

    DBIndexFolder addSource(const QString& path, const QString& type)
    {
        DBIndexFolder folder = addFolder(path);
        folder.setType(type);
        EXPECT_TRUE(libraryEngine->writeToDiskAndWait());
        return folder;
    }

    // A window to hang sheets and dialogs from.
    std::unique_ptr<QWidget> makeWindow(int width = 640, int height = 480)
    {
        auto window = std::make_unique<QWidget>();
        window->resize(width, height);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return window;
    }

    QString home;
    QList<QVariantMap> added;
    QStringList removed;
    QStringList alerts;
};

} // namespace sourcestest
