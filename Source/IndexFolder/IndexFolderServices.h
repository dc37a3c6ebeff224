// What an index-folder sync works with: the two stores, the library folder for thumbnails, and
// the full-text indexer to start afterwards. The program uses the shared objects; tests hand in
// their own so that a library in a scratch folder can be synced and "restarted".
#pragma once

#include "Platform/Foundation/Error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class DataBaseEngine;
class KPIndexFolderDBEngine;
class KPLibraryFileManager;

struct IndexFolderServices {
    DataBaseEngine* library = nullptr;            // documents and tags (its own contexts)
    KPIndexFolderDBEngine* indexStore = nullptr;  // what the last sync saw of each file
    const KPLibraryFileManager* files = nullptr;  // where thumbnails go
    QString libraryPath;                          // never walked into
    std::function<void()> startIndexer;           // run on the main thread after each sync
    // The device number (st_dev) of a path, links followed, or nullopt; empty for the real stat.
    // Called on the syncers' threads.
    std::function<std::optional<quint64>(const QString& path)> deviceOfPath;
    // Makes the thumbnails written so far (absolute paths) durable; empty for
    // KPLibraryFileManager::flushItems. Called on the import threads.
    std::function<platform::Result<void>(const QStringList& thumbnails)> flushThumbnails;
    // The walks' clock, nanoseconds since 1970; empty for the real one. Called on the syncers'
    // threads.
    std::function<qint64()> clock;

    // The shared engines, library folder and indexer of the running program.
    static IndexFolderServices shared();
};
