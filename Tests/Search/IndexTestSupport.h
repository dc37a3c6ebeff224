// A record store held in memory for the indexer's tests, with a switch that makes its saves
// fail the way a full disk does, and a counter of the indexer's notifications.
#pragma once

#include "Platform/Foundation/NotificationCenter.h"
#include "Search/KPIndexRecordStore.h"

#include <QCoreApplication>
#include <QString>
#include <atomic>
#include <mutex>
#include <vector>

namespace indextest {

class MemoryRecordStore : public KPIndexRecordStore {
public:
    struct Document {
        QString path;
        qint64 skDocumentID = -1;
        bool removeOnFetch = false;
        bool removed = false;
    };

    // Adds a waiting document; answers its record number ("ID"); its URI is "uri-<number>".
    int add(const QString& path)
    {
        std::lock_guard lock(m_lock);
        m_documents.push_back({path});
        return int(m_documents.size()) - 1;
    }
    qint64 state(int id) const { return at(id).skDocumentID; }
    void setState(int id, qint64 value)
    {
        std::lock_guard lock(m_lock);
        m_documents[size_t(id)].skDocumentID = value;
    }
    static QString uri(int id) { return QStringLiteral("uri-%1").arg(id); }
    bool noneWaiting() const
    {
        std::lock_guard lock(m_lock);
        return std::none_of(m_documents.begin(), m_documents.end(),
                            [](const Document& d) { return d.skDocumentID == -1 && !d.removed; });
    }

    platform::Result<QVariantList> fetchWaitingRecords(int limit) override
    {
        std::lock_guard lock(m_lock);
        QVariantList records;
        for (size_t i = 0; i < m_documents.size() && records.size() < limit; ++i) {
            if (m_documents[i].skDocumentID == -1 && !m_documents[i].removed) {
                records.append(QVariantMap{{"Type", "New"}, {"ID", int(i)}, {"Path", m_documents[i].path},
                                           {"URI", uri(int(i))}, {"SKID", -1}});
                m_documents[i].removed = m_documents[i].removeOnFetch;
            }
        }
        if (limit >= 300 && !records.isEmpty())
            passSizes.push_back(int(records.size()));
        return records;
    }
    bool writeResults(const QVariantList& entries) override
    {
        ++writeCalls;
        std::lock_guard lock(m_lock);
        for (const QVariant& entry : entries) {
            Document& document = m_documents[size_t(entry.toMap()["ID"].toInt())];
            if (!failWrites && !document.removed)
                document.skDocumentID = entry.toMap()["DocumentID"].toLongLong();
        }
        return !failWrites;
    }
    QList<qint64> documentsWithoutRecord(const QVariantList& entries) override
    {
        std::lock_guard lock(m_lock);
        QList<qint64> gone;
        for (const QVariant& entry : entries) {
            if (m_documents[size_t(entry.toMap()["ID"].toInt())].removed && entry.toMap()["DocumentID"].toLongLong() > 0)
                gone.append(entry.toMap()["DocumentID"].toLongLong());
        }
        return gone;
    }
    // The record goes as soon as the worker has fetched it: its document leaves the library
    // while it is being read.
    void removeOnceFetched(int id)
    {
        std::lock_guard lock(m_lock);
        m_documents[size_t(id)].removeOnFetch = true;
    }
    bool resetForRebuild() override
    {
        std::lock_guard lock(m_lock);
        for (Document& d : m_documents)
            d.skDocumentID = d.skDocumentID == -3 ? -3 : -1;
        return true;
    }
    qint64 highestDocumentID() override
    {
        std::lock_guard lock(m_lock);
        qint64 highest = 0;
        for (const Document& d : m_documents)
            highest = std::max(highest, d.skDocumentID);
        return highest;
    }

    std::atomic<bool> failWrites{false};
    std::atomic<int> writeCalls{0};
    std::vector<int> passSizes; // sizes of the worker's non-empty batch fetches (read when idle)

private:
    Document at(int id) const
    {
        std::lock_guard lock(m_lock);
        return m_documents.at(size_t(id));
    }
    mutable std::mutex m_lock;
    std::vector<Document> m_documents;
};

// Counts posts of one notification on the main thread.
struct PostCounter {
    explicit PostCounter(const QString& name)
        : token(platform::NotificationCenter::defaultCenter().addObserver(name, [this](const auto&) { ++count; }))
    {
    }
    int count = 0;
    platform::ObserverToken token;
};

// Delivers what earlier tests left queued on the main thread before a test starts counting.
inline void drainMainQueue()
{
    QCoreApplication::processEvents();
}

} // namespace indextest
