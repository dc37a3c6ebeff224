// A real library for the tests that go through the store: a library folder in a scratch
// directory, named in "String_Library_Path" so that DBHelper resolves paths inside it, and a
// store engine opened on it as the program-wide default (its periodic save never fires).
#pragma once

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Store/DBDocumentIndex.h"
#include "Store/DBFileInfo.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace libraryfixture {

class IdleSaveTimer : public DataBaseSaveTimer {
public:
    void start(std::chrono::milliseconds, Tick) override {}
};

// Makes library the program's library (settings and file manager) and opens its store, whose
// saves run only when a test asks. Fails the current test when the store does not open.
inline std::unique_ptr<DataBaseEngine> openLibrary(const QString& library)
{
    platform::UserDefaults::standardUserDefaults().setString(library, QStringLiteral("String_Library_Path"));
    KPLibraryFileManager::resetDefaultManager();
    DataBaseEngine::Options options;
    options.libraryPath = library;
    options.saveTimerFactory = [] { return std::make_unique<IdleSaveTimer>(); };
    auto engine = std::make_unique<DataBaseEngine>(options);
    auto opened = engine->initDataBase();
    EXPECT_TRUE(opened.has_value()) << qPrintable(opened.error().toString());
    return engine;
}

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = testsupport::makeTempDir(QStringLiteral("library"));
        engine = openLibrary(library);
        files = &KPLibraryFileManager::defaultManager();
    }

    void TearDown() override
    {
        // Queued saves of the main context run before the engine goes.
        bool done = false;
        platform::Dispatch::main([&done] { done = true; });
        testsupport::spinUntil([&] { return done; });
        engine.reset();
    }

    // A document stored in the library with the given bytes and a thumbnail file of its own.
    DBFileInfo addDocument(const QString& name, const QByteArray& bytes, bool trashed = false,
                           const QByteArray& thumbBytes = "old thumbnail")
    {
        const QString source = testsupport::makeTempDir(QStringLiteral("source")) + QLatin1Char('/') + name;
        testsupport::writeFile(source, bytes);
        auto relative = files->addFile(source);
        EXPECT_TRUE(relative.has_value());
        const QString thumb = QStringLiteral("/Thumbnail/") + name + QStringLiteral(".thumb");
        testsupport::writeFile(library + thumb, thumbBytes);
        ImportRecord record{{ImportRecordKey::Path, relative.value_or(QString())}, {ImportRecordKey::Thumb, thumb}};
        QList<DBFileInfo> inserted = engine->insertRecords({record});
        EXPECT_EQ(inserted.size(), 1);
        if (inserted.isEmpty())
            return {};
        inserted.first().setTitle(name);
        inserted.first().setIsTrash(trashed);
        return inserted.first();
    }

    qint64 state(const DBFileInfo& file) const { return file.documentIndex().skDocumentID(); }

    QString library;
    KPLibraryFileManager* files = nullptr;
    std::unique_ptr<DataBaseEngine> engine;
};

} // namespace libraryfixture
