// The import that copies files, and the supported files found in the given folders, into the
// library as documents of one target folder, without their folder structure.
//
// The walk runs inside the pausable phase, so a stop asked for during the walk is answered at
// the test that follows it, and every ending (stored, kept, thrown away, cancelled, store
// failed) posts "SaveDataBaseFinished", which the import panel waits for.
//
// Threads: see KPImportOperation.
#pragma once

#include "Import/KPImportOperation.h"

class KPFileImport : public KPImportOperation {
public:
    KPFileImport(const QVariantMap& options, std::function<void()> completionBlock = {});

    bool hasFolder() const { return m_hasFolder; }
    void setHasFolder(bool hasFolder) { m_hasFolder = hasFolder; }
    int successCount() const { return m_successCount; }

    // Stores the records gathered and posts the final status.
    void startSave();
    // Removes the copy and the thumbnail of every record gathered so far.
    void deleteImported();

protected:
    void main() override;

private:
    bool m_hasFolder = false;
    bool m_thrownAway = false;
    QStringList m_importDataList;
    QList<KPImportedFile> m_insertRecords;
    int m_successCount = 0;
};
