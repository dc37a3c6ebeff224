#include "Platform/Workspace/DesktopEntry.h"

#include "Support/TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using platform::DesktopEntry;

namespace {

DesktopEntry entryWithExec(const QByteArray& exec, const QByteArray& extra = QByteArray())
{
    const QByteArray text = "[Desktop Entry]\nType=Application\nName=Viewer\nName[de]=Betrachter\n"
                            "Icon=viewer\nExec=" + exec + "\n" + extra;
    auto entry = DesktopEntry::parse(text, QStringLiteral("/apps/viewer.desktop"),
                                     QStringLiteral("viewer.desktop"), {});
    EXPECT_TRUE(entry.has_value());
    return entry.value_or(DesktopEntry());
}

QList<QStringList> lines(const DesktopEntry& e, const QStringList& files)
{
    auto result = e.commandLines(files);
    EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().message.toStdString());
    return result.value_or(QList<QStringList>());
}

} // namespace

TEST(DesktopEntry, PicksTheBestLocalisedName)
{
    const QByteArray text = "[Desktop Entry]\nType=Application\nExec=x\nName=Mail\nName[de]=Post\n"
                            "Name[de_CH]=Poscht\nName[sr@latin]=Pošta\n"
                            "[Desktop Action new]\nName[fr]=Courrier\n";
    auto name = [&](const QString& locale) {
        return DesktopEntry::parse(text, {}, {}, DesktopEntry::localeCandidates(locale))->name;
    };
    EXPECT_EQ(name(QStringLiteral("de_CH.UTF-8")), QStringLiteral("Poscht"));
    EXPECT_EQ(name(QStringLiteral("de_AT.UTF-8")), QStringLiteral("Post"));
    EXPECT_EQ(name(QStringLiteral("sr_RS.UTF-8@latin")), QStringLiteral("Pošta"));
    // Keys of other groups never leak into the entry.
    EXPECT_EQ(name(QStringLiteral("fr_FR")), QStringLiteral("Mail"));
    EXPECT_EQ(name(QStringLiteral("C")), QStringLiteral("Mail"));
    EXPECT_EQ(DesktopEntry::localeCandidates(QStringLiteral("sr_RS.UTF-8@latin")),
              (QStringList{QStringLiteral("sr_RS@latin"), QStringLiteral("sr_RS"), QStringLiteral("sr@latin"),
                           QStringLiteral("sr")}));
}

TEST(DesktopEntry, ExecQuotingRules)
{
    // In the file: general escapes first ("\\\\" is one backslash pair), then the quoting rules.
    const DesktopEntry e = entryWithExec(
        "\"/opt/My App/run\" --title \"say \\\\\"hi\\\\\" \\\\$HOME \\\\\\\\ done\" plain\\ word %F");
    auto args = e.execArguments();
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(*args, (QStringList{QStringLiteral("/opt/My App/run"), QStringLiteral("--title"),
                                  QStringLiteral("say \"hi\" $HOME \\ done"), QStringLiteral("plain word"),
                                  QStringLiteral("%F")}));

    EXPECT_FALSE(entryWithExec("app \"unterminated %f").commandLines({}).has_value());
    EXPECT_FALSE(entryWithExec("").isUsable());
}

TEST(DesktopEntry, FieldCodesKeepEachFileOneArgument)
{
    const QString hostile = QStringLiteral("/tmp/a b; rm -rf ~ $(id) `x` \"q\".pdf");
    const QString other = QStringLiteral("/tmp/ü'2.pdf");

    // %f and %u take one file per command line.
    EXPECT_EQ(lines(entryWithExec("viewer --page 1 %f"), {hostile, other}),
              (QList<QStringList>{{QStringLiteral("viewer"), QStringLiteral("--page"), QStringLiteral("1"), hostile},
                                  {QStringLiteral("viewer"), QStringLiteral("--page"), QStringLiteral("1"), other}}));
    // %F and %U take them all in one.
    EXPECT_EQ(lines(entryWithExec("viewer %U"), {hostile, other}),
              (QList<QStringList>{{QStringLiteral("viewer"), hostile, other}}));
    // Without files the code and its argument vanish instead of leaving "".
    EXPECT_EQ(lines(entryWithExec("viewer %F"), {}), (QList<QStringList>{{QStringLiteral("viewer")}}));
    EXPECT_EQ(lines(entryWithExec("viewer --open=%u"), {}), (QList<QStringList>{{QStringLiteral("viewer")}}));
    EXPECT_EQ(lines(entryWithExec("viewer --open=%u"), {hostile}),
              (QList<QStringList>{{QStringLiteral("viewer"), QStringLiteral("--open=") + hostile}}));
    // No file code: files are appended.
    EXPECT_EQ(lines(entryWithExec("viewer --new"), {hostile}),
              (QList<QStringList>{{QStringLiteral("viewer"), QStringLiteral("--new"), hostile}}));
}

TEST(DesktopEntry, OtherFieldCodes)
{
    const DesktopEntry e = entryWithExec("viewer %i --caption=%c --from %k 100%% %d %D %n %N %v %m %f");
    EXPECT_EQ(lines(e, {QStringLiteral("/x")}),
              (QList<QStringList>{{QStringLiteral("viewer"), QStringLiteral("--icon"), QStringLiteral("viewer"),
                                   QStringLiteral("--caption=Viewer"), QStringLiteral("--from"),
                                   QStringLiteral("/apps/viewer.desktop"), QStringLiteral("100%"),
                                   QStringLiteral("/x")}}));
    // "%%f" is text, not a single-file code: two files still make one command line.
    EXPECT_EQ(lines(entryWithExec("printf 100%%f %F"), {QStringLiteral("/a"), QStringLiteral("/b")}),
              (QList<QStringList>{{QStringLiteral("printf"), QStringLiteral("100%f"), QStringLiteral("/a"),
                                   QStringLiteral("/b")}}));
}

TEST(DesktopEntry, QuotedFieldCodesAreNeverExpanded)
{
    // A file name must never reach a shell through "sh -c".
    const DesktopEntry e = entryWithExec("sh -c \"viewer %f\" %f");
    EXPECT_EQ(lines(e, {QStringLiteral("/tmp/$(reboot)")}),
              (QList<QStringList>{{QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("viewer %f"),
                                   QStringLiteral("/tmp/$(reboot)")}}));
}

TEST(DesktopEntry, ArgumentsGoWhereTheFileCodeStands)
{
    const DesktopEntry e = entryWithExec("flatpak run --file-forwarding org.mozilla.Thunderbird @@u %u @@");
    auto argv = e.commandLineWithArguments({QStringLiteral("-compose"), QStringLiteral("to='a'")});
    ASSERT_TRUE(argv.has_value());
    EXPECT_EQ(*argv, (QStringList{QStringLiteral("flatpak"), QStringLiteral("run"), QStringLiteral("--file-forwarding"),
                                  QStringLiteral("org.mozilla.Thunderbird"), QStringLiteral("@@u"),
                                  QStringLiteral("-compose"), QStringLiteral("to='a'"), QStringLiteral("@@")}));
    auto appended = entryWithExec("kmail").commandLineWithArguments({QStringLiteral("--subject"), QStringLiteral("s")});
    EXPECT_EQ(*appended, (QStringList{QStringLiteral("kmail"), QStringLiteral("--subject"), QStringLiteral("s")}));
}

TEST(DesktopEntry, UsabilityFlags)
{
    EXPECT_TRUE(entryWithExec("viewer").isUsable());
    EXPECT_FALSE(entryWithExec("viewer", "Hidden=true\n").isUsable());
    EXPECT_TRUE(entryWithExec("viewer", "NoDisplay=true\n").isUsable());
    EXPECT_FALSE(entryWithExec("viewer", "TryExec=/nonexistent/viewer\n").isUsable());

    const QString tool = testsupport::makeTempDir() + QStringLiteral("/tool");
    testsupport::writeFile(tool, "#!/bin/sh\n");
    EXPECT_FALSE(entryWithExec("viewer", "TryExec=" + tool.toUtf8() + "\n").isUsable()); // not executable
    QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_TRUE(entryWithExec("viewer", "TryExec=" + tool.toUtf8() + "\n").isUsable());

    auto link = DesktopEntry::parse("[Desktop Entry]\nType=Link\nURL=http://x\nExec=x\n", {}, {}, {});
    EXPECT_FALSE(link->isUsable());
    EXPECT_FALSE(DesktopEntry::parse("[Other]\nExec=x\n", {}, {}, {}).has_value());
}
