// The work of one export: the collection tree of the library copied into an ordinary folder
// hierarchy below a folder made for it ("Document Export", "Document Export_2" …).
//
// One folder per collection and folder node that is not in the trash (smart folders have none),
// the top-level ones numbered on a clash ("T", "T_2"), a child sharing the folder of a sibling
// with the same title; in each, a copy of every document of the node that is not in the trash,
// under its title and extension, numbered on a clash ("t.pdf", "t_2.pdf"). Every name is
// claimed without replacing anything, and every copy is checked against its source. Documents
// in no collection or folder are not exported.
//
// Threads: settleExportFolder runs on the main thread; run runs on the worker that owns the
// context it is given and reports progress on that thread. cancel() may come from any thread:
// the flag is atomic and run looks at it before each folder and each document.
#pragma once

#include "Platform/Foundation/Error.h"
#include "Platform/ObjectStore/ManagedObjectContext.h"

#include <QString>
#include <atomic>
#include <functional>

class ExportOperation {
public:
    // The name of the folder made inside the folder the user chose.
    static inline const QString kExportFolderName = QStringLiteral("Document Export");

    using CopyFunction = std::function<platform::Result<void>(const QString& source, const QString& target)>;
    // The bar's maximum (documents still to go plus those done), the running number of the
    // document now copied (0 before the first) and its title.
    using ProgressHandler = std::function<void(int maximum, int value, const QString& title)>;

    struct Summary {
        int copied = 0;
        // Documents that should have been exported and were not: a failed copy, a missing file,
        // a folder that could not be made.
        int failed = 0;
        bool cancelled = false;
    };

    explicit ExportOperation(QString exportFolder);

    // Makes "<chosenFolder>/Document Export", or the first free "…_2", "…_3"; answers its path.
    static platform::Result<QString> settleExportFolder(const QString& chosenFolder);

    const QString& exportFolder() const { return m_exportFolder; }

    // Test seam: how one document file is copied (FileManager::copyItem by default). It must
    // fail with EEXIST, touching nothing, when the target exists.
    void setCopyFunction(CopyFunction copy) { m_copy = std::move(copy); }

    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

    Summary run(const platform::ContextPtr& context, const ProgressHandler& progress);

private:
    QString m_exportFolder;
    CopyFunction m_copy;
    std::atomic<bool> m_cancelled{false};
};
