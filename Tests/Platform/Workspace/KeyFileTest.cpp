#include "Platform/Workspace/KeyFile.h"

#include <gtest/gtest.h>

using platform::KeyFile;

TEST(KeyFile, EscapesAndListsRoundTrip)
{
    EXPECT_EQ(KeyFile::unescape(QStringLiteral("a\\sb\\nc\\td\\\\e\\q")), QStringLiteral("a b\nc\td\\e\\q"));
    const QString hostile = QStringLiteral(" lead\\ing\nline\ttab trail ");
    EXPECT_EQ(KeyFile::unescape(KeyFile::escape(hostile)), hostile);
    // "\;" is a semicolon inside an item; empty items vanish.
    EXPECT_EQ(KeyFile::splitList(QStringLiteral("a.desktop;b\\;c.desktop;;d\\sx;")),
              (QStringList{QStringLiteral("a.desktop"), QStringLiteral("b;c.desktop"), QStringLiteral("d x")}));
}

TEST(KeyFile, UpdatingAKeyKeepsEverythingElse)
{
    const QByteArray text = "# made by a file manager\n[Dolphin]\nViewMode=1\n\n"
                            "[Desktop Entry]\nIcon=old\nName=Lib\n";
    KeyFile file = KeyFile::parse(text);
    file.setValue(QStringLiteral("Desktop Entry"), QStringLiteral("Icon"), QStringLiteral("new"));
    file.setValue(QStringLiteral("Extra"), QStringLiteral("K"), QStringLiteral("v"));
    const KeyFile again = KeyFile::parse(file.serialize());
    EXPECT_EQ(again.value(QStringLiteral("Desktop Entry"), QStringLiteral("Icon")), QStringLiteral("new"));
    EXPECT_EQ(again.value(QStringLiteral("Desktop Entry"), QStringLiteral("Name")), QStringLiteral("Lib"));
    EXPECT_EQ(again.value(QStringLiteral("Dolphin"), QStringLiteral("ViewMode")), QStringLiteral("1"));
    EXPECT_EQ(again.value(QStringLiteral("Extra"), QStringLiteral("K")), QStringLiteral("v"));
    EXPECT_TRUE(file.serialize().startsWith("# made by a file manager\n"));
}

TEST(KeyFile, WritingBackChangesNothingAndNeverGrows)
{
    for (const QByteArray& text : {QByteArray("[Desktop Entry]\nIcon=a\n"), QByteArray("[G]\nK=v\n\n\n"),
                                  QByteArray("# only a comment\n"), QByteArray("\n")}) {
        EXPECT_EQ(KeyFile::parse(text).serialize(), text);
    }
    EXPECT_EQ(KeyFile::parse("").serialize(), QByteArray());
    // A last line without its newline gets one, once.
    const QByteArray once = KeyFile::parse("[G]\nK=v").serialize();
    EXPECT_EQ(once, QByteArray("[G]\nK=v\n"));
    EXPECT_EQ(KeyFile::parse(once).serialize(), once);
}

TEST(KeyFile, BrokenLinesWrittenBackReadTheSameTheSecondTime)
{
    // A key of only blanks, and a comment or blank line ending in more than one carriage return.
    for (const QByteArray& text : {QByteArray("[G]\n\t=x\nK=v\n"), QByteArray("[G]\n\r=%\n"),
                                  QByteArray("# c\r\r\n[G]\n\r\r\nK=v\r\r\n")}) {
        const QByteArray written = KeyFile::parse(text).serialize();
        EXPECT_EQ(KeyFile::parse(written).serialize(), written) << text.toStdString();
    }
    const KeyFile file = KeyFile::parse("[G]\n =gone\nK=v\n");
    EXPECT_EQ(file.serialize(), QByteArray("[G]\nK=v\n"));
    EXPECT_EQ(file.entries(QStringLiteral("G")).size(), 1);
}

TEST(KeyFile, ToleratesBrokenLines)
{
    const KeyFile file = KeyFile::parse("Orphan=1\r\n[G]\r\nno equals sign\r\n=novalue\r\nK = v \r\n");
    EXPECT_TRUE(file.value(QStringLiteral("G"), QStringLiteral("Orphan")).isNull());
    EXPECT_EQ(file.value(QStringLiteral("G"), QStringLiteral("K")), QStringLiteral("v"));
    EXPECT_EQ(file.entries(QStringLiteral("G")).size(), 1);
}
