// A fresh index file per test in a library-like "Index" folder, and helpers that run a search
// to the end.
#pragma once

#include "Platform/TextIndex/TextIndex.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <algorithm>

class TextIndexFixture : public ::testing::Test {
public:
    void SetUp() override
    {
        const QString library = testsupport::makeTempDir(QStringLiteral("library"));
        ASSERT_TRUE(QDir(library).mkdir(QStringLiteral("Index")));
        path = library + QStringLiteral("/Index/contentIndex.index");
        auto opened = platform::TextIndex::open(path);
        ASSERT_TRUE(opened) << opened.error().toString().toStdString();
        index = std::move(*opened);
    }

    qint64 add(const QString& name, const QString& text)
    {
        auto id = index->addDocument(QStringLiteral("file:///docs/") + name, text, QStringLiteral("x-store://") + name);
        EXPECT_TRUE(id) << id.error().toString().toStdString();
        return id ? *id : 0;
    }

    void flush()
    {
        auto r = index->flush();
        ASSERT_TRUE(r) << r.error().toString().toStdString();
    }

    // The URIs' names (without the scheme) of every hit, sorted: searched as the program does,
    // on the open index's kept readers, or on a reader of its own when no index is open.
    QStringList find(const QString& query)
    {
        QStringList names;
        auto search = index ? index->search(query) : platform::TextIndexSearch::start(path, query);
        EXPECT_TRUE(search) << search.error().toString().toStdString();
        if (!search)
            return names;
        for (;;) {
            auto batch = (*search)->findMatches(100, std::chrono::milliseconds(300));
            EXPECT_TRUE(batch) << batch.error().toString().toStdString();
            if (!batch)
                break;
            for (const auto& hit : batch->hits)
                names << hit.uri.mid(int(qstrlen("x-store://")));
            if (!batch->more)
                break;
        }
        names.sort();
        return names;
    }

    QString path;
    std::unique_ptr<platform::TextIndex> index;
};
