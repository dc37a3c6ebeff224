// Shared set-up for the store engine tests: a library folder in a scratch directory, an engine
// opened on it with a save timer the test fires by hand, and short helpers for predicates and
// fetches.
#pragma once

#include "Platform/Foundation/Dispatch.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPContextHelper.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace storeengine {

// A save timer that ticks only when the test says so.
class ManualSaveTimer : public DataBaseSaveTimer {
public:
    struct State {
        std::chrono::milliseconds interval{0};
        Tick tick;
        int starts = 0;
    };
    explicit ManualSaveTimer(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    ~ManualSaveTimer() override { m_state->tick = nullptr; }
    void start(std::chrono::milliseconds interval, Tick tick) override
    {
        m_state->interval = interval;
        m_state->tick = std::move(tick);
        ++m_state->starts;
    }

private:
    std::shared_ptr<State> m_state;
};

inline platform::Predicate predicate(const QString& format, const QVariantList& args = {})
{
    auto parsed = platform::Predicate::format(format, args);
    EXPECT_TRUE(parsed.has_value()) << qPrintable(format);
    return parsed ? *parsed : platform::Predicate();
}

// Runs the main queue until every task queued so far (the purge, queued saves) has run.
inline void drainMainQueue()
{
    bool done = false;
    platform::Dispatch::main([&done] { done = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return done; }));
}

// Runs the main queue and waits until the opening's purge (or any other) has ended: a purge
// removes its documents' leftovers on a queue of its own and their records afterwards on the
// main queue.
inline void settlePurges()
{
    drainMainQueue();
    ASSERT_TRUE(testsupport::spinUntil([] { return !DataBaseEngine::isPurging(); }));
}

class StoreEngineTest : public ::testing::Test {
protected:
    void SetUp() override { library = testsupport::makeTempDir(QStringLiteral("library")); }
    void TearDown() override { engine.reset(); }

    // (Re)opens the engine on the library folder; the earlier engine is closed first.
    DataBaseEngine& open(bool expectSuccess = true)
    {
        engine.reset();
        timer = std::make_shared<ManualSaveTimer::State>();
        DataBaseEngine::Options options;
        options.libraryPath = library;
        auto state = timer;
        options.saveTimerFactory = [state] { return std::make_unique<ManualSaveTimer>(state); };
        options.beforeSweepStep = beforeSweepStep;
        engine = std::make_unique<DataBaseEngine>(options);
        auto opened = engine->initDataBase();
        if (expectSuccess) {
            EXPECT_TRUE(opened.has_value()) << (opened ? "" : qPrintable(opened.error().toString()));
        }
        return *engine;
    }

    // Writes the main context to the store and reopens the library from the file.
    DataBaseEngine& reopen()
    {
        EXPECT_TRUE(engine->writeToDiskAndWait());
        return open();
    }

    template <class T>
    QList<T> all(const QString& format = {}, const QVariantList& args = {})
    {
        auto found = engine->queryRecordByName(T::entityName(), format.isEmpty() ? platform::Predicate()
                                                                                 : predicate(format, args));
        EXPECT_TRUE(found.has_value());
        return found ? DBRecord::recordsOf<T>(*found) : QList<T>();
    }

    QString library;
    std::unique_ptr<DataBaseEngine> engine;
    std::shared_ptr<ManualSaveTimer::State> timer;
    // Handed to the engines open() makes (DataBaseEngine::Options).
    std::function<void()> beforeSweepStep;
};

template <class T>
QStringList namesOf(const QList<T>& records)
{
    QStringList names;
    for (const T& record : records)
        names.append(record.name());
    names.sort();
    return names;
}

} // namespace storeengine
