// The common ground of the TagMeta tests: an in-memory attribute backend that can refuse chosen
// names, a fixed clock, a scratch backup folder and a backup worker that never fires on its
// own (tests drain it explicitly), so nothing depends on timing.
#pragma once

#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/XAttr.h"
#include "Support/TestSupport.h"
#include "TagMeta/TagMeta.h"
#include "TagMeta/TagMetaBackup.h"
#include "TagMeta/TagMetaClock.h"

#include <QSet>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

// A fake backend that fails writes of chosen attribute names with a chosen errno.
class RefusingXAttrBackend : public platform::FakeXAttrBackend {
public:
    void refuse(const QByteArray& systemName, int err)
    {
        std::lock_guard lock(m_refuseLock);
        m_refused.insert(systemName, err);
    }
    int set(const QByteArray& path, const QByteArray& name, const QByteArray& value) override
    {
        {
            std::lock_guard lock(m_refuseLock);
            if (m_refused.contains(name))
                return m_refused.value(name);
        }
        return FakeXAttrBackend::set(path, name, value);
    }

private:
    std::mutex m_refuseLock;
    QHash<QByteArray, int> m_refused;
};

class TagMetaFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TagMetaBackup::resetForTesting();
        backend = std::make_shared<RefusingXAttrBackend>();
        previousBackend = platform::XAttr::setBackend(backend);
        dir = testsupport::makeTempDir(QStringLiteral("tagmeta"));
        TagMetaBackup::setBackupFolderForTesting(dir + QStringLiteral("/TagMeta/backups.noindex"));
        // Backups only happen when a test drains the queue.
        TagMetaBackup::setDelaysForTesting(std::chrono::hours(1), std::chrono::hours(1));
        setNow(QDateTime(QDate(2024, 3, 15), QTime(12, 0), Qt::UTC));
    }

    void TearDown() override
    {
        TagMetaBackup::resetForTesting();
        TagMetaBackup::setBackupFolderForTesting(QString());
        TagMetaClock::setNowForTesting({});
        platform::XAttr::setBackend(previousBackend);
    }

    void setNow(const QDateTime& now)
    {
        current = now;
        TagMetaClock::setNowForTesting([this] { return current; });
    }

    QString makeFile(const QString& name, const QByteArray& content = "x")
    {
        const QString path = dir + QLatin1Char('/') + name;
        testsupport::writeFile(path, content);
        return path;
    }

    // The attribute names of the file, without "user.".
    QSet<QString> names(const QString& path) const
    {
        QSet<QString> set;
        for (const QString& name : platform::XAttr::list(path).value_or(QStringList()))
            set.insert(name);
        return set;
    }

    QVariant value(const QString& path, const QString& name) const { return TagMeta::getXAttr(name, path); }

    // Writes whatever is queued now, as shut-down does.
    void drainBackups()
    {
        TagMetaBackup::appIsTerminating(std::chrono::seconds(30));
    }

    std::shared_ptr<RefusingXAttrBackend> backend;
    std::shared_ptr<platform::XAttrBackend> previousBackend;
    QString dir;
    QDateTime current;
};
