// The driver against small fake tools that print canned text, for every decision it makes.
#include "SafeBox/SafeBoxContentGenerate.h"
#include "SafeBox/SafeBoxCreator.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

class SafeBoxCreatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = testsupport::makeTempDir(QStringLiteral("driver"));
        m_store = m_dir + QStringLiteral("/lib dir/safebox.db");
        QDir().mkpath(QFileInfo(m_store).absolutePath());
    }
    void TearDown() override { SafeBoxCreator::setToolPathForTesting({}); }

    // A fake tool: the shell body runs with the driver's arguments and standard input.
    void fakeTool(const QString& body)
    {
        const QString path = m_dir + QStringLiteral("/fake-hdiutil");
        testsupport::writeFile(path, ("#!/bin/sh\n" + body + "\n").toUtf8());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        SafeBoxCreator::setToolPathForTesting(path);
    }

    QString mount() const { return SafeBoxCreator::mountPointFor(m_dir + QStringLiteral("/run"), m_store); }
    SafeBoxCreator driver(QVariantMap parameter = {})
    {
        parameter.insert(QStringLiteral("ToPath"), m_dir + QStringLiteral("/run"));
        return SafeBoxCreator(m_store, parameter);
    }

    QString m_dir;
    QString m_store;
};

} // namespace

TEST_F(SafeBoxCreatorTest, AttachReadsStandardErrorFirstAndTakesTheFirstDeviceLine)
{
    const QString good = QStringLiteral("printf 'GUID_partition_scheme\\tnothing\\n/dev/disk9\\tGUID_partition_scheme\\t\\n"
                                        "/dev/disk7 GUID_partition_scheme\\n%1\\n'").arg(mount());
    fakeTool(good);
    SafeBoxOutcome outcome = driver().attach();
    EXPECT_TRUE(outcome.success);
    EXPECT_EQ(outcome.disk, QStringLiteral("/dev/disk9"));
    EXPECT_EQ(outcome.path, mount());

    // Anything on standard error is what counts, even with a good standard output.
    fakeTool(good + QStringLiteral("; echo 'some warning' >&2"));
    outcome = driver().attach();
    EXPECT_FALSE(outcome.success);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_TRUE(outcome.path.isEmpty());

    fakeTool(QStringLiteral("echo 'hdiutil: attach failed - Authentication error' >&2; exit 1"));
    outcome = driver().attach();
    EXPECT_EQ(outcome.error.value_or(QString()), QStringLiteral("hdiutil: attach failed - Authentication error\n"));

    fakeTool(QStringLiteral("exit 0"));
    EXPECT_EQ(driver().attach().error.value_or(QString()), QStringLiteral("unknown error"));

    // The mount point without a device line fails without text.
    fakeTool(QStringLiteral("echo '%1'").arg(mount()));
    outcome = driver().attach();
    EXPECT_FALSE(outcome.success);
    EXPECT_FALSE(outcome.error.has_value());
}

TEST_F(SafeBoxCreatorTest, AToolThatDiesNeverCountsAsSuccess)
{
    // Marker words, but the tool was killed: with the exit status ignored this was a success.
    fakeTool(QStringLiteral("printf '/dev/disk9\\tGUID_partition_scheme\\n%1\\n'; kill -9 $$").arg(mount()));
    SafeBoxOutcome outcome = driver().attach();
    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(outcome.error.has_value());

    // chpass and resize succeed on an empty standard error; a killed tool leaves one.
    fakeTool(QStringLiteral("kill -9 $$"));
    outcome = driver().change();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.error.value_or(QString()), QStringLiteral("the disk-image tool exited abnormally"));
    EXPECT_FALSE(driver().resize().success);

    fakeTool(QStringLiteral("echo '\"/dev/x\" unmounted.'; echo '\"/dev/x\" ejected.'; exit 3"));
    EXPECT_FALSE(driver().detach(QStringLiteral("/dev/x")).success);

    // A missing tool is a failure too, and one that says the tool could not be started.
    SafeBoxCreator::setToolPathForTesting(m_dir + QStringLiteral("/no-such-tool"));
    EXPECT_FALSE(driver().detach(QStringLiteral("/dev/x")).success);
    EXPECT_FALSE(driver().change().success);
    outcome = driver().resume(QStringLiteral("/dev/x"));
    EXPECT_FALSE(outcome.success);
    EXPECT_TRUE(outcome.error.value_or(QString()).contains(QStringLiteral("could not be started"))) << outcome.error.value_or(QString()).toStdString();
    EXPECT_TRUE(outcome.error.value_or(QString()).contains(QStringLiteral("No such file or directory"))) << outcome.error.value_or(QString()).toStdString();
}

TEST_F(SafeBoxCreatorTest, DetachNeedsBothMarkers)
{
    fakeTool(QStringLiteral("echo '\"$3\" unmounted.'"));
    SafeBoxOutcome outcome = driver().detach(QStringLiteral("/dev/x"));
    EXPECT_FALSE(outcome.success);
    EXPECT_FALSE(outcome.error.has_value());

    fakeTool(QStringLiteral("echo 'folivo-hdiutil: detach failed - No such device'; exit 1"));
    outcome = driver().detach(QStringLiteral("/dev/x"));
    EXPECT_EQ(outcome.error.value_or(QString()), QStringLiteral("folivo-hdiutil: detach failed - No such device\n"));

    fakeTool(QStringLiteral("true"));
    outcome = driver().detach(QStringLiteral("/dev/x"));
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.error, std::optional<QString>(QString()));

    fakeTool(QStringLiteral("[ \"$1 $2 $3\" = 'detach -force /dev/x' ] && echo '\"$3\" unmounted.' && echo '\"$3\" ejected.'"));
    EXPECT_TRUE(driver().detach(QStringLiteral("/dev/x")).success);
}

TEST_F(SafeBoxCreatorTest, CreateMovesTheImageButNeverOverAnExistingStore)
{
    const QString log = m_dir + QStringLiteral("/input");
    fakeTool(QStringLiteral("cat > '%1'; shift 12; touch \"$1.dmg\"; echo \"created: $1.dmg\"").arg(log));
    const QVariantMap parameter{{QStringLiteral("Name"), QStringLiteral("SafeBox")},
                                {QStringLiteral("Size"), qint64(104857600)},
                                {QStringLiteral("Password"), SafeBoxContentGenerate(QStringLiteral("pw")).generate()}};
    EXPECT_TRUE(driver(parameter).creator().success);
    EXPECT_TRUE(QFileInfo::exists(m_store));
    EXPECT_FALSE(QFileInfo::exists(m_store + QStringLiteral(".dmg")));
    // The pass phrase, not the derived value, with no terminator.
    EXPECT_EQ(testsupport::readFile(log),
              SafeBoxCreator::pathWithString(SafeBoxContentGenerate(QStringLiteral("pw")).generate()).toUtf8());

    testsupport::writeFile(m_store, "the existing box");
    const SafeBoxOutcome outcome = driver(parameter).creator();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(testsupport::readFile(m_store), QByteArray("the existing box"));

    fakeTool(QStringLiteral("echo 'folivo-hdiutil: create failed - File exists'; exit 1"));
    EXPECT_EQ(driver(parameter).creator().error.value_or(QString()), QStringLiteral("folivo-hdiutil: create failed - File exists\n"));
}

TEST_F(SafeBoxCreatorTest, ResizeAndChangeWriteTheRightPassPhrases)
{
    const QString log = m_dir + QStringLiteral("/input");
    fakeTool(QStringLiteral("echo \"$*\" > '%1.args'; cat > '%1'").arg(log));
    const QVariantMap key = SafeBoxContentGenerate(QStringLiteral("pw")).generateD();
    const QString derived = SafeBoxContentGenerate(QStringLiteral("pw")).generate();
    EXPECT_TRUE(driver({{QStringLiteral("P"), key.value(QStringLiteral("Key"))},
                        {QStringLiteral("Size"), quint64(5) * 1073741824 / 2}})
                    .resize()
                    .success);
    EXPECT_EQ(testsupport::readFile(log), SafeBoxCreator::pathWithString(derived).toUtf8());
    EXPECT_EQ(testsupport::readFile(log + QStringLiteral(".args")).trimmed(),
              QStringLiteral("resize -size 2684354560 -stdinpass %1").arg(m_store).toUtf8());

    const QString newDerived = SafeBoxContentGenerate(QStringLiteral("new")).generate();
    EXPECT_TRUE(driver({{QStringLiteral("Password"), derived}, {QStringLiteral("NewPassword"), newDerived}}).change().success);
    EXPECT_EQ(testsupport::readFile(log), SafeBoxCreator::pathWithString(derived).toUtf8() + '\0'
                                              + SafeBoxCreator::pathWithString(newDerived).toUtf8() + '\0');

    fakeTool(QStringLiteral("echo 'folivo-hdiutil: chpass failed - Authentication error' >&2; exit 1"));
    EXPECT_TRUE(driver().change().error.value_or(QString()).contains(QStringLiteral("Authentication error")));
}

TEST_F(SafeBoxCreatorTest, LogoutCheckDetachesOnlyTheFirstDeviceAfterTheStore)
{
    const QString log = m_dir + QStringLiteral("/detached");
    fakeTool(QStringLiteral("if [ \"$1\" = info ]; then printf 'image-path : /other\\nprocess ID : 1\\n/dev/wrong\\tGUID\\n"
                            "image-path : %1\\nmount : x\\nprocess ID : 2\\n/dev/right\\tGUID_partition_scheme\\n"
                            "process ID : 3\\n/dev/later\\tx\\n'; else echo \"$3\" >> '%2'; fi")
                 .arg(m_store, log));
    driver().logoutCheck();
    EXPECT_EQ(testsupport::readFile(log), QByteArray("/dev/right\n"));

    // Without the store in the report nothing is detached.
    QFile::remove(log);
    fakeTool(QStringLiteral("if [ \"$1\" = info ]; then printf 'process ID : 2\\n/dev/right\\tx\\n'; else echo \"$3\" >> '%1'; fi").arg(log));
    driver().logoutCheck();
    EXPECT_FALSE(QFileInfo::exists(log));

    // A device line that starts with white space names no device.
    fakeTool(QStringLiteral("if [ \"$1\" = info ]; then printf '%1\\nprocess ID : 2\\n /dev/right\\tx\\n'; else echo \"$3\" >> '%2'; fi")
                 .arg(m_store, log));
    driver().logoutCheck();
    EXPECT_FALSE(QFileInfo::exists(log));
}

TEST_F(SafeBoxCreatorTest, LargeOutputOnBothStreamsDoesNotStallTheTool)
{
    fakeTool(QStringLiteral("head -c 1048576 /dev/zero | tr '\\0' e >&2; head -c 1048576 /dev/zero | tr '\\0' o; exit 1"));
    const SafeBoxOutcome outcome = driver().change();
    EXPECT_FALSE(outcome.success);
    EXPECT_EQ(outcome.error.value_or(QString()).size(), 1048576);
}

TEST_F(SafeBoxCreatorTest, TheToolRunsInASessionOfItsOwn)
{
    // A detach begun at quit must not end with the program's session or with a signal sent to
    // the program's process group (a terminal's Ctrl+C): the tool leads a session of its own.
    fakeTool(QStringLiteral("read pid comm state ppid pgrp sid rest < /proc/$$/stat\n"
                            "echo \"detach failed $pid $pgrp $sid\""));
    const SafeBoxOutcome outcome = driver().detach(QStringLiteral("/dev/x"));
    const QStringList ids = outcome.error.value_or(QString()).trimmed().split(QLatin1Char(' '));
    ASSERT_EQ(ids.size(), 5) << outcome.error.value_or(QStringLiteral("(no text)")).toStdString();
    const qint64 pid = ids.at(2).toLongLong();
    EXPECT_GT(pid, 0);
    EXPECT_EQ(ids.at(3).toLongLong(), pid);
    EXPECT_EQ(ids.at(4).toLongLong(), pid);
    EXPECT_NE(ids.at(3).toLongLong(), qint64(::getpgrp()));
    EXPECT_NE(ids.at(4).toLongLong(), qint64(::getsid(0)));
}
