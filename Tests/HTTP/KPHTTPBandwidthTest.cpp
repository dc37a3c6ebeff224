#include "HTTP/KPHTTPBandwidth.h"
#include "HTTP/KPHTTPRequest.h"

#include <gtest/gtest.h>

namespace {

class KPHTTPBandwidthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KPHTTPBandwidth::resetForTesting();
        KPHTTPBandwidth::setClockForTesting([this] { return m_now; });
    }
    void TearDown() override
    {
        KPHTTPBandwidth::resetForTesting();
        KPHTTPBandwidth::setClockForTesting({});
    }
    double m_now = 1000.0;
};

} // namespace

TEST_F(KPHTTPBandwidthTest, DownloadReadsShrinkAndStreamsWaitPastTheLimit)
{
    KPHTTPBandwidth::setMaxBandwidthPerSecond(40000);
    KPHTTPBandwidth::measureBandwidthUsage(); // opens a window ending at 1001
    EXPECT_EQ(KPHTTPBandwidth::throttledReadLength(262144), 10000);
    EXPECT_EQ(KPHTTPBandwidth::throttledReadLength(16384), 10000);
    KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(39999);
    EXPECT_EQ(KPHTTPBandwidth::throttledReadLength(16384), 1) << "never less than one byte";
    KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(20001);
    EXPECT_EQ(KPHTTPBandwidth::throttledReadLength(16384), 1);

    m_now = 1000.5;
    KPHTTPBandwidth::measureBandwidthUsage();
    ASSERT_TRUE(KPHTTPBandwidth::throttleWakeUpTime());
    EXPECT_DOUBLE_EQ(*KPHTTPBandwidth::throttleWakeUpTime(), 1001.5) << "60000 of 40000: half a second past the window";
}

TEST_F(KPHTTPBandwidthTest, UploadAllowances)
{
    KPHTTPBandwidth::setMaxBandwidthPerSecond(40000);
    KPHTTPBandwidth::measureBandwidthUsage();
    EXPECT_EQ(KPHTTPBandwidth::maxUploadReadLength(), 10000u);
    KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(35000);
    EXPECT_EQ(KPHTTPBandwidth::maxUploadReadLength(), 5000u);
    KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(5000);
    EXPECT_EQ(KPHTTPBandwidth::maxUploadReadLength(), 0u);
    EXPECT_EQ(KPHTTPBandwidth::throttleWakeUpTime(), KPHTTPBandwidth::measurementDate())
        << "nothing left: streams wait for the end of the window";
}

TEST_F(KPHTTPBandwidthTest, RecordDropsLateWindowsAndKeepsSix)
{
    for (int i = 1; i <= 8; ++i) {
        KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(quint64(i) * 100);
        KPHTTPBandwidth::measureBandwidthUsage();
        m_now += 1.0;
    }
    EXPECT_EQ(KPHTTPBandwidth::bandwidthUsageRecord().size(), 6u);

    // Recorded 2.5 s after the window ended: three old entries go before the new one comes.
    const auto before = KPHTTPBandwidth::bandwidthUsageRecord();
    m_now = *KPHTTPBandwidth::measurementDate() + 2.5;
    KPHTTPBandwidth::incrementBandwidthUsedInLastSecond(50);
    KPHTTPBandwidth::measureBandwidthUsage();
    const auto after = KPHTTPBandwidth::bandwidthUsageRecord();
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0], before[3]);
    EXPECT_EQ(after.back(), 50u);
    EXPECT_EQ(KPHTTPBandwidth::averageBandwidthUsedPerSecond(), (before[3] + before[4] + before[5] + 50) / 4);
}

TEST(KPHTTPProgressTest, FractionOfANothingTotalIsDefined)
{
    EXPECT_EQ(KPHTTPRequest::progressFraction(0, 0, false), 0.0);
    EXPECT_EQ(KPHTTPRequest::progressFraction(0, 0, true), 1.0);
    EXPECT_EQ(KPHTTPRequest::progressFraction(5, 10, false), 0.5);
}
