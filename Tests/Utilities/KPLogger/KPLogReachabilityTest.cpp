#include "Utilities/KPLogger/KPLogReachability.h"

#include <QByteArray>
#include <cstring>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One route announcement of the given type, with a body of the given size.
QByteArray announcement(quint16 type, quint32 bodySize = 16)
{
    QByteArray bytes(int(NLMSG_ALIGN(NLMSG_HDRLEN + bodySize)), '\0');
    nlmsghdr header{};
    header.nlmsg_len = NLMSG_HDRLEN + bodySize;
    header.nlmsg_type = type;
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

bool announces(const QByteArray& bytes)
{
    return KPLogReachability::announcesChange(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                              std::size_t(bytes.size()));
}

} // namespace

TEST(KPLogReachability, LearnsOfANetworkChangeWhenItIsAnnouncedAndNeverOnAClock)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    uint32_t flags = KPLogReachability::Reachable | KPLogReachability::LoopbackUp;
    int reads = 0;
    KPLogReachability reachability;
    reachability.setFlagsReader([&]() -> std::optional<uint32_t> {
        ++reads;
        return flags;
    });
    reachability.startOn(pair[0]);
    EXPECT_EQ(reachability.descriptor(), pair[0]);
    EXPECT_FALSE(reachability.nextPoll()) << "a watch that hears changes has nothing to wake for";

    const auto start = Clock::now();
    EXPECT_EQ(reachability.takeChange(start), flags) << "the flags at the start are reported";

    // The network goes down, unannounced: however much later, the list is not read again.
    flags = 0;
    EXPECT_FALSE(reachability.takeChange(start + std::chrono::hours(1)));
    EXPECT_EQ(reads, 1);

    // An announcement that is not about links or addresses changes nothing either.
    const QByteArray route = announcement(RTM_NEWROUTE);
    ASSERT_EQ(::write(pair[1], route.constData(), size_t(route.size())), route.size());
    EXPECT_FALSE(reachability.takeChange(start));
    EXPECT_EQ(reads, 1);

    // An address going is announced: the list is read and the change reported, once.
    const QByteArray gone = announcement(RTM_DELADDR);
    ASSERT_EQ(::write(pair[1], gone.constData(), size_t(gone.size())), gone.size());
    EXPECT_EQ(reachability.takeChange(start), 0u);
    EXPECT_EQ(reads, 2);
    EXPECT_FALSE(reachability.takeChange(start));

    // An announcement that changes nothing the logger cares about is not reported.
    const QByteArray link = announcement(RTM_NEWLINK);
    ASSERT_EQ(::write(pair[1], link.constData(), size_t(link.size())), link.size());
    EXPECT_FALSE(reachability.takeChange(start));
    EXPECT_EQ(reads, 3);

    // Stopped, it holds no descriptor the worker would wait on.
    reachability.stop();
    EXPECT_EQ(reachability.descriptor(), -1);
    EXPECT_FALSE(reachability.takeChange(start));
    ::close(pair[1]);
}

TEST(KPLogReachability, RouteAnnouncementsAreReadWithoutTrustingTheirLengths)
{
    EXPECT_FALSE(announces({}));
    EXPECT_TRUE(announces(announcement(RTM_NEWADDR)));
    EXPECT_TRUE(announces(announcement(RTM_DELLINK)));
    EXPECT_TRUE(announces(announcement(NLMSG_OVERRUN, 0)));
    EXPECT_FALSE(announces(announcement(RTM_NEWROUTE)));
    // The second of several messages counts too.
    EXPECT_TRUE(announces(announcement(RTM_NEWROUTE) + announcement(RTM_NEWLINK)));

    // A length beyond the bytes read, or shorter than a header, ends the reading.
    QByteArray cut = announcement(RTM_NEWADDR);
    cut.chop(4);
    EXPECT_FALSE(announces(cut));
    QByteArray tiny = announcement(RTM_NEWADDR);
    const quint32 small = 4;
    std::memcpy(tiny.data(), &small, sizeof small);
    EXPECT_FALSE(announces(tiny + announcement(RTM_NEWADDR)));
    EXPECT_FALSE(announces(announcement(RTM_NEWADDR).left(int(sizeof(nlmsghdr)) - 1)));
}

TEST(KPLogReachability, TheRealWatchListensOnARouteSocket)
{
    KPLogReachability reachability;
    reachability.start();
    if (reachability.descriptor() < 0)
        GTEST_SKIP() << "no route socket here; the watch reads the list on its fallback interval";
    EXPECT_FALSE(reachability.nextPoll());
    const auto flags = reachability.takeChange(Clock::now());
    ASSERT_TRUE(flags.has_value());
    EXPECT_TRUE(*flags & KPLogReachability::LoopbackUp);
}
