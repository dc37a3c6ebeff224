#include "Utilities/KPLogger/KPLogClientInfo.h"

#include <gtest/gtest.h>

TEST(KPLogClientInfo, VersionAndMachineTexts)
{
    EXPECT_EQ(KPLogClientInfo::osVersion(QStringLiteral("6.1.0-18-amd64")), QStringLiteral("6.1.0"));
    EXPECT_EQ(KPLogClientInfo::osVersion(QStringLiteral("5.15")), QStringLiteral("5.15.0"));
    EXPECT_EQ(KPLogClientInfo::osVersion(QString()), QStringLiteral("0.0.0"));

    EXPECT_EQ(KPLogClientInfo::machineDescription(QStringLiteral("ThinkPad X1"), 8, QStringLiteral("x86_64")),
              QStringLiteral("ThinkPad X1 - 8 * x86_64"));
    // Long models are cut to 63 bytes without splitting a character.
    const QString cut = KPLogClientInfo::machineDescription(QString(40, QChar(0x00E9)), 4, QStringLiteral("aarch64"));
    EXPECT_LE(cut.toUtf8().size(), 63);
    EXPECT_EQ(cut, QString(31, QChar(0x00E9)));
}
