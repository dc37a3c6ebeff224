// The library of 100,000 documents the benchmarks measure against: titles of words and numbers,
// sizes, dates, extensions, three of 1,000 tags each, 200 folders holding most documents, and
// every tenth document an index-folder entry below one of 300 folders. It is built once into
// the folder a benchmark names and opened from there on later runs.
#pragma once

#include "Platform/Foundation/UserDefaults.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBNode.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QDir>
#include <QRandomGenerator>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace benchlibrary {

inline constexpr int kDocuments = 100000;
inline constexpr int kFolders = 200;
inline constexpr int kTags = 1000;
inline constexpr int kSources = 300;

class IdleSaveTimer : public DataBaseSaveTimer {
public:
    void start(std::chrono::milliseconds, Tick) override {}
};

inline const char* const kWords[] = {"report", "invoice", "letter", "draft", "minutes", "budget", "plan", "notes",
                                     "résumé", "contract", "photo", "scan", "summary", "proposal", "review", "memo",
                                     "Zebra", "apple", "Ökonomie", "ticket", "receipt", "manual", "thesis", "agenda"};
inline const char* const kExtensions[] = {"pdf", "pdf", "pdf", "docx", "txt", "jpg", "xlsx", "md", "png", "PDF", "pages", ""};

inline std::unique_ptr<DataBaseEngine> openEngine(const QString& libraryDir)
{
    DataBaseEngine::Options options;
    options.libraryPath = libraryDir;
    options.saveTimerFactory = [] { return std::make_unique<IdleSaveTimer>(); };
    auto engine = std::make_unique<DataBaseEngine>(options);
    if (auto opened = engine->initDataBase(); !opened) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(libraryDir), qPrintable(opened.error().toString()));
        std::exit(1);
    }
    return engine;
}

inline void buildLibrary(DataBaseEngine& engine)
{
    std::fprintf(stderr, "building the library (once)...\n");
    const platform::ContextPtr& context = engine.context();
    QRandomGenerator random(20240315);
    QList<DBNode> folders;
    for (int i = 0; i < kFolders; ++i) {
        DBNode node = engine.createDBNode();
        node.setTitle(QStringLiteral("%1 %2").arg(QString::fromUtf8(kWords[i % 24])).arg(i));
        node.setType(DBNode::Folder);
        folders.append(node);
    }
    QList<DBTag> tags;
    for (int i = 0; i < kTags; ++i)
        tags.append(engine.createTagByContext(QStringLiteral("tag%1").arg(i)));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < kDocuments; ++i) {
        DBFileInfo file = DBRecord::insertNewObject<DBFileInfo>(context);
        const QString title = QStringLiteral("%1 %2 %3")
                                  .arg(QString::fromUtf8(kWords[random.bounded(24)]), QString::fromUtf8(kWords[random.bounded(24)]))
                                  .arg(random.bounded(5000));
        const QString extension = QString::fromLatin1(kExtensions[random.bounded(12)]);
        file.setTitle(title);
        file.setPathExtension(extension);
        const bool indexed = i % 10 == 0;
        file.setIsIndex(indexed);
        const QString name = extension.isEmpty() ? title : title + QLatin1Char('.') + extension;
        file.setPath(indexed ? QStringLiteral("/srv/share/folder%1/%2").arg(i % kSources).arg(name)
                             : QStringLiteral("/Documents/Jan 01, 2014/%1").arg(name));
        file.setThumbPath(KPLibraryFileManager::thumbRelativePath(file.path()));
        DBFileInfoMetadata meta = DBRecord::insertNewObject<DBFileInfoMetadata>(context);
        // Sizes spread over every range, a few empty or unknown.
        if (i % 97 != 0)
            meta.setFileSize(qint64(std::pow(10.0, random.bounded(110) / 10.0)) - 1);
        meta.setDateModified(now.addSecs(-qint64(random.bounded(3 * 365 * 24)) * 3600));
        meta.setDateCreated(now.addSecs(-qint64(random.bounded(6 * 365 * 24)) * 3600));
        meta.setDateImported(now.addSecs(-qint64(random.bounded(365 * 24)) * 3600));
        if (!indexed && i % 5 != 0)
            meta.setFrom(QStringLiteral("/home/user/source%1/%2").arg(random.bounded(kSources)).arg(name));
        meta.setLabel(int(random.bounded(8)));
        file.setMetadata(meta);
        if (i % 10 < 7)
            folders[int(random.bounded(kFolders))].addFilesObject(file);
        for (int t = 0; t < 3; ++t)
            file.addTagsObject(tags[int(random.bounded(kTags))]);
        if ((i + 1) % 20000 == 0 && !engine.writeToDiskAndWait()) {
            std::fprintf(stderr, "saving the library failed\n");
            std::exit(1);
        }
    }
    if (!engine.writeToDiskAndWait()) {
        std::fprintf(stderr, "saving the library failed\n");
        std::exit(1);
    }
}

// Makes libraryDir the program's library and opens it, building it first where it does not
// hold the whole library yet.
inline std::unique_ptr<DataBaseEngine> openBenchLibrary(const QString& libraryDir)
{
    QDir().mkpath(libraryDir);
    platform::UserDefaults::standardUserDefaults().setString(libraryDir, QStringLiteral("String_Library_Path"));
    KPLibraryFileManager::resetDefaultManager();
    auto engine = openEngine(libraryDir);
    if (engine->countByObject(DBFileInfo::entityName()) == kDocuments)
        return engine;
    engine.reset();
    QDir(libraryDir).removeRecursively();
    QDir().mkpath(libraryDir);
    auto building = openEngine(libraryDir);
    buildLibrary(*building);
    (void)building->close();
    building.reset();
    return openEngine(libraryDir);
}

} // namespace benchlibrary
