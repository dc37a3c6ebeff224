#include "Platform/Foundation/Error.h"

#include <cerrno>
#include <gtest/gtest.h>

TEST(Error, PosixErrorNamesWhatFailed)
{
    const auto e = platform::Error::posix(ENOENT, QStringLiteral("open /x"));
    EXPECT_EQ(e.domain, QStringLiteral("POSIX"));
    EXPECT_EQ(e.code, ENOENT);
    EXPECT_TRUE(e.toString().contains(QStringLiteral("open /x")));
}
