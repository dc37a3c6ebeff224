// A real library for the browser tests: a library folder in a scratch directory named in
// "String_Library_Path" (so display models resolve their paths inside it), a store engine opened
// on it as the program-wide default, and short ways to make documents, tags, authors and
// folders straight in the main context.
#pragma once

#include "../Search/LibraryFixture.h"
#include "BrowserTestSupport.h"
#include "Platform/Foundation/Dispatch.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"

#include <QDateTime>
#include <cstdlib>
#include <ctime>
#include <memory>

// Documents are described with designated initializers naming only what a test needs; g++ 12
// warns about every member left to its default there.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace browsertest {

// Sets TZ for the life of the object (and puts the old one back).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            m_old = old;
        m_hadOld = std::getenv("TZ") != nullptr;
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_hadOld)
            qputenv("TZ", m_old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_old;
    bool m_hadOld = false;
};

// A local date and time in the current TZ, as the store keeps it (UTC).
inline QDateTime localDate(int y, int m, int d, int hh, int mm, int ss = 0)
{
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss), Qt::LocalTime).toUTC();
}

struct DocumentFields {
    QString title;
    QString extension = QStringLiteral("pdf");
    QStringList tags;
    QStringList authors;
    std::optional<qint64> size;
    QDateTime created, modified, imported, lastOpened;
    int label = 0;
    int rate = 0;
    QString from;
    bool isIndex = false;
    QString path; // default: "/Documents/Jan 01, 2014/<title>.<extension>"
};

class BrowserLibraryTest : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        library = testsupport::makeTempDir(QStringLiteral("library"));
        engine = libraryfixture::openLibrary(library);
        files = &KPLibraryFileManager::defaultManager();
    }

    void TearDown() override
    {
        drainMainQueue();
        engine.reset();
        SettingsTest::TearDown();
    }

    static void drainMainQueue()
    {
        bool done = false;
        platform::Dispatch::main([&done] { done = true; });
        testsupport::spinUntil([&] { return done; });
    }

    const platform::ContextPtr& context() const { return engine->context(); }

    DBTag tagNamed(const QString& name)
    {
        DBTag tag = engine->tagNamed(name);
        return tag ? tag : engine->createTagByContext(name);
    }

    DBAuthor authorNamed(const QString& name)
    {
        DBAuthor author = engine->authorNamed(name);
        return author ? author : engine->createAuthorByContext(name);
    }

    DBNode folderNamed(const QString& title)
    {
        DBNode node = engine->createDBNode();
        node.setTitle(title);
        node.setType(DBNode::Folder);
        return node;
    }

    DBFileInfo addDocument(const DocumentFields& model)
    {
        DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(context());
        file.setTitle(model.title);
        file.setPathExtension(model.extension);
        const QString name = model.extension.isEmpty() ? model.title : model.title + QLatin1Char('.') + model.extension;
        file.setPath(model.path.isEmpty() ? QStringLiteral("/Documents/Jan 01, 2014/") + name : model.path);
        file.setThumbPath(KPLibraryFileManager::thumbRelativePath(file.path()));
        file.setIsIndex(model.isIndex);
        DBFileInfoMetadata meta = DBRecord::insertNewObject<DBFileInfoMetadata>(context());
        if (model.size)
            meta.setFileSize(*model.size);
        meta.setDateCreated(model.created);
        meta.setDateModified(model.modified);
        meta.setDateImported(model.imported);
        meta.setDateLastOpen(model.lastOpened);
        meta.setLabel(model.label);
        meta.setRate(model.rate);
        meta.setFrom(model.from);
        file.setMetadata(meta);
        for (const QString& tag : model.tags)
            file.addTagsObject(tagNamed(tag));
        for (const QString& author : model.authors)
            file.addAuthorsObject(authorNamed(author));
        return file;
    }

    DBFileInfo addDocument(const QString& title) { return addDocument(DocumentFields{.title = title}); }

    bool save() { return engine->writeToDiskAndWait(); }

    QString library;
    KPLibraryFileManager* files = nullptr;
    std::unique_ptr<DataBaseEngine> engine;
};

} // namespace browsertest
