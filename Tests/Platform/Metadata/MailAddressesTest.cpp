#include "MetadataFixtures.h"
#include "Platform/Metadata/MailAddresses.h"

#include <gtest/gtest.h>

using platform::MailAddresses;

TEST(MailAddressesTest, OnlyTopLevelCommasSeparate)
{
    EXPECT_EQ(MailAddresses::senderNames("\"Doe, Jane\" <j@x>, Bob (work, main) <b@x>, <only@x>, c@x (Carl Old),"
                                         " \"Say \\\"hi\\\"\" <q@x>,, Team: Ann <a@x>, t@x;"),
              (QStringList{"Doe, Jane", "Bob", "only@x", "Carl Old", "Say \"hi\"", "Ann", "t@x"}));
    // Encoded words are decoded after the split: an encoded comma is text.
    EXPECT_EQ(MailAddresses::senderNames("=?UTF-8?Q?Doe=2C_Jane?= <j@x>, =?ISO-8859-1?Q?Andr=E9?= <a@x>"),
              (QStringList{"Doe, Jane", QStringLiteral("André")}));
    EXPECT_EQ(MailAddresses::senderNames(QStringLiteral("Zoë <z@x>").toUtf8()), QStringList{QStringLiteral("Zoë")});
}

TEST(MailAddressesTest, UnbalancedInputEndsAtTheText)
{
    EXPECT_TRUE(MailAddresses::senderNames("undisclosed-recipients:;").isEmpty());
    EXPECT_EQ(MailAddresses::senderNames("\"Open <a@x>"), QStringList{"Open <a@x>"});
    EXPECT_EQ(MailAddresses::senderNames("Name <a@x"), QStringList{"Name"});
    EXPECT_EQ(MailAddresses::senderNames("a@x (never (closed"), QStringList{"never (closed"});
}
