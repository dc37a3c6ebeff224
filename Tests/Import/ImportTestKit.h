// Shared scaffolding of the import tests: a library in a scratch folder, a recording store
// that can be told to fail, a log of the statuses posted, and a gate in the copy step that
// holds the import at a chosen file so a test can stop it there.
#pragma once

#include "Import/KPFileFormatManager.h"
#include "Import/KPFileImportQueue.h"
#include "Import/KPImportFileWorker.h"
#include "Import/KPImportKeys.h"
#include "Import/KPImportOperation.h"
#include "Import/KPImportStore.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Store/KPLibraryFileManager.h"
#include "Support/TestSupport.h"

#include <QDir>
#include <QSet>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace importtest {

inline QVariantMap kindRow(qint64 id, const QString& extensions)
{
    return {{QStringLiteral("ID"), id}, {QStringLiteral("Name"), extensions},
            {QStringLiteral("Extension"), extensions}, {QStringLiteral("Group"), QStringLiteral("G")}};
}

// Records what it is asked to store; answers as configured.
class RecordingStore : public KPImportStore {
public:
    std::mutex mutex;
    QVariantList flatRecords;
    QString flatFolderName;
    QVariant flatTarget;
    std::shared_ptr<KPFileSysytemItem> treeRoot;
    QString treeFolderName;
    int calls = 0;
    bool failSave = false;
    QVariantList tagsToReport;

    Outcome answer(int count)
    {
        Outcome outcome;
        outcome.saved = !failSave;
        outcome.successCount = failSave ? 0 : count;
        if (outcome.saved)
            outcome.newTags = tagsToReport;
        else
            outcome.error = QStringLiteral("the disk is full");
        return outcome;
    }
    Outcome storeFlat(const QVariantList& records, const QVariant& target, const QString& folderName,
                      const std::function<bool()>&) override
    {
        std::lock_guard lock(mutex);
        ++calls;
        flatRecords = records;
        flatTarget = target;
        flatFolderName = folderName;
        Outcome outcome = answer(int(records.size()));
        if (!folderName.isNull() && outcome.saved)
            outcome.newNode = folderName;
        return outcome;
    }
    Outcome storeTree(KPFileSysytemItem& root, const QVariant&, const QString& folderName,
                      const std::function<bool()>&) override
    {
        std::lock_guard lock(mutex);
        ++calls;
        treeRoot = std::make_shared<KPFileSysytemItem>(root);
        treeFolderName = folderName;
        int count = 0;
        std::function<void(const KPFileSysytemItem&)> countItems = [&](const KPFileSysytemItem& item) {
            count += int(item.items().size());
            for (const auto& child : item.children())
                countItems(*child);
        };
        countItems(root);
        return answer(count);
    }
};

// Every "FileImportNotification" and "NewTagNotification", in the order observers saw them.
class StatusLog {
public:
    StatusLog()
    {
        auto& center = platform::NotificationCenter::defaultCenter();
        m_importToken = center.addObserver(KPImportKeys::FileImportNotification, [this](const platform::Notification& n) {
            statuses.append(n.object.toMap());
            order.append(n.object.toMap().value(KPImportKeys::Status).toString());
        });
        m_tagToken = center.addObserver(KPImportKeys::NewTagNotification, [this](const platform::Notification& n) {
            newTags.append(n.object);
            order.append(KPImportKeys::NewTagNotification);
        });
    }
    int count(const QString& status) const { return int(order.count(status)); }
    bool finished() const { return count(KPImportKeys::SaveDataBaseFinished) > 0; }
    QVariantMap last() const { return statuses.isEmpty() ? QVariantMap() : statuses.last(); }
    QList<QVariantMap> progress() const
    {
        QList<QVariantMap> out;
        for (const QVariantMap& s : statuses)
            if (s.value(KPImportKeys::Status) == KPImportKeys::Progress)
                out.append(s);
        return out;
    }

    QList<QVariantMap> statuses;
    QStringList order;
    QVariantList newTags;

private:
    platform::ObserverToken m_importToken;
    platform::ObserverToken m_tagToken;
};

// Holds the import in its copy step at the n-th copy (1-based) until released; every copy
// goes through `copy`, which a test may replace to fail in its own way.
class CopyGate {
public:
    explicit CopyGate(int holdAt = 0) : m_holdAt(holdAt)
    {
        KPImportFileWorker::setCopyFunctionForTesting([this](const KPLibraryFileManager& lib, const QString& source,
                                                             const KPLibraryFileManager::BeforeClaim& beforeClaim) {
            const int n = ++m_calls;
            if (n == m_holdAt)
                hold();
            return copy ? copy(lib, source, beforeClaim) : lib.addFile(source, beforeClaim);
        });
    }
    // Blocks the calling thread until release().
    void hold()
    {
        std::unique_lock lock(m_mutex);
        m_arrived = true;
        m_changed.wait(lock, [&] { return m_released; });
    }
    ~CopyGate()
    {
        release();
        KPImportFileWorker::setCopyFunctionForTesting(nullptr);
    }
    bool arrived()
    {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    int calls() const { return m_calls.load(); }

    KPImportFileWorker::CopyFunction copy;

private:
    int m_holdAt;
    std::atomic<int> m_calls{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_arrived = false;
    bool m_released = false;
};

class ImportFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        KPImportOperation::setPhasePauseForTesting(std::chrono::milliseconds(0));
        libraryPath = testsupport::makeTempDir(QStringLiteral("library"));
        sources = testsupport::makeTempDir(QStringLiteral("sources"));
        library = std::make_unique<KPLibraryFileManager>(libraryPath);
        store = std::make_shared<RecordingStore>();
    }
    void TearDown() override { KPImportOperation::setPhasePauseForTesting(KPImportOperation::kPhasePause); }

    QString src(const QString& relative) const { return sources + QLatin1Char('/') + relative; }
    QString write(const QString& relative, const QByteArray& bytes = "content")
    {
        testsupport::writeFile(src(relative), bytes);
        return src(relative);
    }

    template <class Op>
    std::shared_ptr<Op> make(const QVariantMap& options)
    {
        auto op = std::make_shared<Op>(options);
        op->setEnvironment({library.get(), store, &formats});
        return op;
    }
    // Runs the operation on a queue until its final status has been delivered; false when it
    // did not end within timeoutMs (callers assert on it, so the test stops there).
    [[nodiscard]] bool run(KPFileImportQueue& queue, const std::shared_ptr<platform::Operation>& op,
                           int timeoutMs = 30000)
    {
        queue.addOperation(op);
        return testsupport::spinUntil([&] { return log.finished() && !queue.isImporing(); }, timeoutMs);
    }

    // Names in the day folder (hidden ones included) and in the thumbnail folder.
    QStringList dayFolderNames() const { return QDir(library->dayFolder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name); }
    int thumbnailCount() const { return int(QDir(library->thumbFolder()).entryList(QDir::Files | QDir::Hidden).size()); }

    KPFileFormatManager formats{{kindRow(1, QStringLiteral("pdf")), kindRow(2, QStringLiteral("txt")),
                                 kindRow(3, QStringLiteral("jpg")), kindRow(4, QStringLiteral("rtf,rtfd"))}};
    QString libraryPath;
    QString sources;
    std::unique_ptr<KPLibraryFileManager> library;
    std::shared_ptr<RecordingStore> store;
    StatusLog log;
};

inline QSet<QString> setOf(const QStringList& list)
{
    return QSet<QString>(list.begin(), list.end());
}

inline QStringList pathsOf(const QVariantList& records, const QString& key)
{
    QStringList out;
    for (const QVariant& r : records)
        out.append(r.toMap().value(key).toString());
    return out;
}

} // namespace importtest
