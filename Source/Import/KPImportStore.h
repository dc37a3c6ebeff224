// Where an import's records go: the library store, behind the two calls the imports make.
//
// The imports only need "store these records under this folder" and "store this tree of
// folders", each answering whether the records really reached the disk. That answer decides
// whether the sources of a move may be deleted and whether the copies must be taken back out
// of the library, so a store must answer "saved" only for records that are in the file, and
// say why when they are not. Keeping the calls behind this small interface also lets tests
// stand a failing store in for the real one.
//
// Threads: both calls run on the import queue's thread and block until the save is done. A
// call that first needs the main thread (to save a folder the user has just made) gives up on
// it once cancelled (at quit) and the main thread has not come round to it within the quit
// wait.
#pragma once

#include "Import/KPFileSysytemItem.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>

class KPImportStore {
public:
    struct Outcome {
        bool saved = false;     // the records were written to disk
        int successCount = 0;   // documents stored, 0 unless saved
        QString error;          // why nothing was stored, when not saved
        QVariant newNode;       // the folder made for "NewFolderName", when one was
        QVariantList newTags;   // tags created on the way
    };

    virtual ~KPImportStore() = default;

    // Stores records as documents of targetNode (a node reference or nothing) or, with a
    // newFolderName, of a new folder of that name under it; with a recent-documents entry.
    virtual Outcome storeFlat(const QVariantList& records, const QVariant& targetNode,
                              const QString& newFolderName, const std::function<bool()>& isCancelled) = 0;

    // Stores the tree as folder nodes under targetNode (or a new folder named newFolderName
    // under it): root alone when it holds files itself, else each of its sub-folders. Every
    // item stored keeps its node in dataObj.
    virtual Outcome storeTree(KPFileSysytemItem& root, const QVariant& targetNode,
                              const QString& newFolderName, const std::function<bool()>& isCancelled) = 0;

    // On the main thread: the object the main thread should see for a node or tag reference the
    // store answered (the same record in the library's main context). The reference itself by
    // default.
    virtual QVariant objectForMainThread(const QVariant& reference) const { return reference; }

    // The library store of the running program (DataBaseEngine's default context).
    static std::shared_ptr<KPImportStore> libraryStore();
};
