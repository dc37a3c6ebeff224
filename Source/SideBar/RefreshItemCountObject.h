// The background counts behind the badges of both side bars.
//
// A job is given an ItemCountSetting (a QVariantMap; "CollectionObj" and "TagObj" hold lists of
// platform::ObjectID values, "IndexObj" a list of folder paths) and hands an ItemCountResult (a
// QVariantMap of counts) to its completion on the main thread, exactly once, whether it ran to
// the end or was cancelled. A burst of requests settles for 0.2 s on the Kit's scheduler first;
// the driver cancels the older jobs meanwhile, so only the last one counts.
//
// The counts run in a background child of the default context, so they see the main context's
// unsaved changes. Counts per collection and per tag are one grouped count each; the loops over
// the requested objects still test the cancel flag after each object, so a cancelled job
// delivers the objects it had reached.
//
// Threads: made, started and cancelled on the main thread. isCancel is atomic; the result is
// written only by the counting thread until the job ends, then read on the main thread after the
// queued hand-over.
#pragma once

#include "Platform/Kit/Scheduler.h"

#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace ItemCountKey {
inline const QString CollectionObj = QStringLiteral("CollectionObj");
inline const QString TagObj = QStringLiteral("TagObj");
inline const QString IndexObj = QStringLiteral("IndexObj");
inline const QString DocumentsCount = QStringLiteral("DocumentsCount");
inline const QString TrashCount = QStringLiteral("TrashCount");
inline const QString ReceiveCount = QStringLiteral("ReceiveCount");
inline const QString UnCollectionCount = QStringLiteral("UnCollectionCount");
inline const QString UnTagCount = QStringLiteral("UnTagCount");
} // namespace ItemCountKey

class DataBaseEngine;
namespace platform {
class ManagedObjectContext;
}

class RefreshItemCountObject : public std::enable_shared_from_this<RefreshItemCountObject> {
public:
    using Ptr = std::shared_ptr<RefreshItemCountObject>;
    using Completion = std::function<void(const QVariantMap& result, const Ptr& job)>;
    static constexpr int kSettleMs = 200;

    // engine: the library whose counts are made (null: the shared one).
    static Ptr initWithSetting(const QVariantMap& setting, DataBaseEngine* engine = nullptr);
    virtual ~RefreshItemCountObject();

    // Starts the job and returns at once; the job keeps itself alive until it has delivered.
    void refreshWithBlock(Completion completion);
    bool isCancel() const { return m_isCancel.load(); }
    void setIsCancel(bool cancel) { m_isCancel.store(cancel); }
    const QVariantMap& setting() const { return m_setting; }

protected:
    struct Private {};

public:
    RefreshItemCountObject(Private, QVariantMap setting, DataBaseEngine* engine);

protected:
    using ContextPtr = std::shared_ptr<platform::ManagedObjectContext>;
    // The counting, on the background context.
    virtual void count(const ContextPtr& context);
    // Untagged documents and the requested tags; false when cancelled on the way.
    bool countTags(const ContextPtr& context);
    // Live documents per object listed under key (one grouped count by keyPath), stored under
    // key as URI text -> count; a cancel stops the list where it is.
    void countEach(const QString& key, const QString& keyPath, const ContextPtr& context);
    // The count of DBFileInfo records matching format under key; false when cancelled after it.
    bool countInto(const QString& key, const QString& format, const ContextPtr& context);
    // The test between two counts; true stops the job there.
    virtual bool checkCancel();
    // Ends the job: the completion gets the result on the main thread (once).
    void doCancel();

    QVariantMap m_setting;
    QVariantMap m_resultData;
    DataBaseEngine* m_engine = nullptr;

private:
    void start();

    Completion m_completion;
    std::atomic<bool> m_isCancel{false};
    std::once_flag m_delivered;
    platform::kit::Token m_settle;
    Ptr m_self; // held from the end of the settle to delivery
};

// Only the tag badges: untagged documents and each requested tag.
class RefreshTagItemCountObject final : public RefreshItemCountObject {
public:
    static Ptr initWithSetting(const QVariantMap& setting, DataBaseEngine* engine = nullptr);
    RefreshTagItemCountObject(Private p, QVariantMap setting, DataBaseEngine* engine)
        : RefreshItemCountObject(p, std::move(setting), engine)
    {
    }

protected:
    void count(const ContextPtr& context) override;
};
