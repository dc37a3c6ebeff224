#include "Platform/Foundation/NotificationCenter.h"

#include "Support/TestSupport.h"

#include <QObject>
#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <semaphore>
#include <thread>

using platform::Notification;
using platform::NotificationCenter;
using platform::ObserverToken;

TEST(NotificationCenter, DeliversByNameSenderAndToCatchAllObserversInRegistrationOrder)
{
    NotificationCenter center;
    QObject window;
    QObject otherWindow;
    QStringList log;
    auto a = center.addObserver(QStringLiteral("Resize"), [&](const Notification& n) {
        log << QStringLiteral("a:") + n.userInfo.value(QStringLiteral("w")).toString();
    });
    auto onlyWindow = center.addObserver(
        QStringLiteral("Resize"), [&](const Notification&) { log << QStringLiteral("window"); },
        QVariant::fromValue(&window));
    auto all = center.addObserver({}, [&](const Notification& n) { log << QStringLiteral("all:") + n.name; });

    center.post(QStringLiteral("Resize"), QVariant::fromValue(&otherWindow), {{QStringLiteral("w"), 5}});
    center.post(QStringLiteral("Resize"), QVariant::fromValue(&window));
    center.post(QStringLiteral("Other"));

    EXPECT_EQ(log, (QStringList{"a:5", "all:Resize", "a:", "window", "all:Resize", "all:Other"}));
}

TEST(NotificationCenter, TokenUnregistersWhenDestroyedButNotWhenMoved)
{
    NotificationCenter center;
    int calls = 0;
    ObserverToken kept;
    {
        auto token = center.addObserver(QStringLiteral("N"), [&](const Notification&) { ++calls; });
        kept = std::move(token);
    }
    center.post(QStringLiteral("N"));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(kept.isActive());

    // Assigning over a live token drops the observer it held.
    kept = center.addObserver(QStringLiteral("N"), [&](const Notification&) { calls += 10; });
    center.post(QStringLiteral("N"));
    EXPECT_EQ(calls, 11);
    kept.remove();
    kept.remove();
    center.post(QStringLiteral("N"));
    EXPECT_EQ(calls, 11);
    EXPECT_EQ(center.observerCount(), 0);
}

TEST(NotificationCenter, TokenMayOutliveItsCenter)
{
    int calls = 0;
    ObserverToken token;
    {
        NotificationCenter center;
        token = center.addObserver(QStringLiteral("N"), [&](const Notification&) { ++calls; });
    }
    token.remove(); // must not touch the destroyed center
    EXPECT_FALSE(token.isActive());
}

TEST(NotificationCenter, ObserversChangedDuringDeliveryFollowTheSnapshotAndRemovals)
{
    NotificationCenter center;
    QStringList log;
    ObserverToken first, second, late;
    first = center.addObserver(QStringLiteral("N"), [&](const Notification&) {
        log << QStringLiteral("first");
        second.remove(); // a later observer of this very post
        first.remove();  // and itself, from inside its own callback
        late = center.addObserver(QStringLiteral("N"),
                                  [&](const Notification&) { log << QStringLiteral("late"); });
    });
    second = center.addObserver(QStringLiteral("N"), [&](const Notification&) { log << QStringLiteral("second"); });

    center.post(QStringLiteral("N"));
    EXPECT_EQ(log, QStringList{"first"}); // second was removed before its turn; late came after
    center.post(QStringLiteral("N"));
    EXPECT_EQ(log, (QStringList{"first", "late"}));
}

TEST(NotificationCenter, ReentrantPostDeliversNestedNotificationsInPlace)
{
    NotificationCenter center;
    QStringList log;
    auto outer = center.addObserver(QStringLiteral("Outer"), [&](const Notification& n) {
        log << QStringLiteral("outer");
        const int depth = n.object.toInt();
        if (depth < 2)
            center.post(QStringLiteral("Outer"), depth + 1);
        center.post(QStringLiteral("Inner"));
    });
    auto inner = center.addObserver(QStringLiteral("Inner"), [&](const Notification&) { log << QStringLiteral("inner"); });

    center.post(QStringLiteral("Outer"), 0);
    EXPECT_EQ(log, (QStringList{"outer", "outer", "outer", "inner", "inner", "inner"}));
}

TEST(NotificationCenter, RemovalFromAnotherThreadWaitsForTheRunningCallback)
{
    NotificationCenter center;
    std::binary_semaphore release(0);
    std::atomic<int> sequence{0};
    std::atomic<int> callbackEnded{-1};
    std::atomic<int> removeReturned{-1};
    std::atomic<bool> entered{false};
    auto token = center.addObserver(QStringLiteral("N"), [&](const Notification&) {
        entered = true;
        release.acquire();
        callbackEnded = sequence++;
    });

    std::thread poster([&] { center.post(QStringLiteral("N")); });
    ASSERT_TRUE(testsupport::spinUntil([&] { return entered.load(); }));
    std::thread remover([&] {
        token.remove();
        removeReturned = sequence++;
    });
    // The observer leaves the list before remove() waits for the callback.
    ASSERT_TRUE(testsupport::spinUntil([&] { return center.observerCount() == 0; }));
    release.release();
    poster.join();
    remover.join();
    EXPECT_LT(callbackEnded.load(), removeReturned.load());
}

TEST(NotificationCenter, ConcurrentPostersAndObserversKeepCountsExact)
{
    NotificationCenter center;
    std::atomic<int> delivered{0};
    auto steady = center.addObserver(QStringLiteral("Tick"), [&](const Notification&) { ++delivered; });
    constexpr int Threads = 4;
    constexpr int Posts = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < Posts; ++i) {
                auto churn = center.addObserver(QStringLiteral("Tick"), [](const Notification&) {});
                center.post(QStringLiteral("Tick"));
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(delivered.load(), Threads * Posts);
    EXPECT_EQ(center.observerCount(), 1);
}
