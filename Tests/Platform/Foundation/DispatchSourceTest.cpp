#include "Platform/Foundation/Dispatch.h"

#include "Support/TestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::DispatchQueue;
using platform::DispatchSource;

namespace {

struct Pair {
    int a = -1, b = -1;
    Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, &a), 0); }
    ~Pair()
    {
        if (a >= 0)
            ::close(a);
        if (b >= 0)
            ::close(b);
    }
};

// Shared with handlers, which may still run after the test body returns.
struct Seen {
    std::mutex mutex;
    std::vector<std::size_t> counts;
    std::atomic<int> events{0};
    std::atomic<int> cancels{0};
    std::atomic<int> eventsAfterCancel{0};
    std::atomic<bool> looked{false};
    std::vector<std::size_t> snapshot()
    {
        std::lock_guard lock(mutex);
        return counts;
    }
};

} // namespace

TEST(DispatchSource, ReadSourceReportsTheReadableCountThenZeroAtEndOfStream)
{
    Pair p;
    const auto queue = DispatchQueue::serial(QStringLiteral("source"));
    const auto seen = std::make_shared<Seen>();
    DispatchSource source(p.a, DispatchSource::Kind::Read, queue);
    const int fd = p.a;
    source.setEventHandler([seen, fd](std::size_t n) {
        {
            std::lock_guard lock(seen->mutex);
            seen->counts.push_back(n);
        }
        ++seen->events;
        char buf[64];
        if (n > 0) // take the bytes, or a level-triggered source fires again
            [[maybe_unused]] auto r = ::read(fd, buf, std::min(n, sizeof buf));
    });
    // Bytes written while the source is still suspended are reported once it is resumed.
    ASSERT_EQ(::write(p.b, "hello", 5), 5);
    queue.after(20ms, [seen] { seen->looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->looked.load(); }));
    EXPECT_EQ(seen->events.load(), 0);

    source.resume();
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->events.load() >= 1; }));
    EXPECT_EQ(seen->snapshot().front(), 5u);

    ::close(p.b);
    p.b = -1;
    ASSERT_TRUE(testsupport::spinUntil([&] {
        auto c = seen->snapshot();
        return !c.empty() && c.back() == 0;
    }));
    source.cancel();
}

TEST(DispatchSource, SuspendHoldsEventsAndCancelHandlerRunsOnceAfterTheLastHandler)
{
    Pair p;
    const auto queue = DispatchQueue::serial(QStringLiteral("source"));
    const auto seen = std::make_shared<Seen>();
    auto source = std::make_unique<DispatchSource>(p.a, DispatchSource::Kind::Write, queue);
    source->setEventHandler([seen](std::size_t) {
        ++seen->events;
        if (seen->cancels.load() > 0)
            ++seen->eventsAfterCancel;
    });
    source->setCancelHandler([seen] { ++seen->cancels; });
    source->resume();
    // A socket with room stays writable: the source keeps firing while resumed.
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->events.load() >= 3; }));

    source->suspend();
    queue.sync([] {}); // a handler already queued has run
    const int held = seen->events.load();
    queue.after(30ms, [seen] { seen->looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->looked.load(); }));
    EXPECT_LE(seen->events.load(), held + 1);

    source->resume();
    const int before = seen->events.load();
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->events.load() > before; }));

    source->cancel();
    source->cancel();
    source.reset();
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->cancels.load() == 1; }));
    seen->looked = false;
    queue.after(30ms, [seen] { seen->looked = true; });
    ASSERT_TRUE(testsupport::spinUntil([&] { return seen->looked.load(); }));
    EXPECT_EQ(seen->cancels.load(), 1);
    EXPECT_EQ(seen->eventsAfterCancel.load(), 0);
}

TEST(DispatchSource, ADescriptorNumberReusedAfterCancelReachesOnlyItsNewSource)
{
    const auto queue = DispatchQueue::serial(QStringLiteral("source"));
    const auto oldSeen = std::make_shared<Seen>();
    const auto newSeen = std::make_shared<Seen>();
    for (int round = 0; round < 50; ++round) {
        Pair p;
        DispatchSource oldSource(p.a, DispatchSource::Kind::Read, queue);
        oldSource.setEventHandler([oldSeen](std::size_t) { ++oldSeen->events; });
        oldSource.resume();
        ASSERT_EQ(::write(p.b, "x", 1), 1);
        oldSource.cancel();
        const int number = p.a;
        ::close(p.a);
        int again[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, again), 0);
        // The kernel hands out the lowest free number, so the old one comes back.
        const int reused = again[0] == number ? again[0] : again[1];
        DispatchSource newSource(reused, DispatchSource::Kind::Read, queue);
        newSource.setEventHandler([newSeen](std::size_t) { ++newSeen->events; });
        newSource.resume(); // nothing was written to the new pair: any event is a stale one
        queue.sync([] {});
        newSource.cancel();
        p.a = -1;
        queue.sync([] {});
        ::close(again[0]);
        ::close(again[1]);
    }
    EXPECT_EQ(newSeen->events.load(), 0);
}
