// Every predicate form the program writes, parsed and evaluated against a small library.
#include "FakeObjects.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace platform;
using namespace predicatetest;

namespace {

constexpr quint64 maxNodeID = 18446744073709551615ull;

// 2020-01-01 00:00:00 UTC, 599529600 seconds after the reference date.
QDateTime modifiedDate()
{
    return QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
}

QVariant documentFixture()
{
    const QVariant metadata = object({{"comment", "Draft for \u00c9lodie"},
                                      {"dateModified", modifiedDate()},
                                      {"label", 2},
                                      {"rate", 4},
                                      {"fileSize", qint64(1024)}});
    const QVariant node = object({{"nodeID", QVariant::fromValue(maxNodeID)}, {"type", 2}}, fakeID(7));
    const QVariantList tags{object({{"name", "Work"}}, fakeID(101)), object({{"name", "Urgent"}}, fakeID(102))};
    return object({{"isTrash", false},
                   {"isNeedDelete", false},
                   {"isIndex", true},
                   {"path", "/Users/Ann/Docs/R\u00e9sum\u00e9.pdf"},
                   {"pathExtension", "pdf"},
                   {"title", "Quarterly Report"},
                   {"extendField", "ReceiveFromDevice"},
                   {"metadata", metadata},
                   {"tags", tags},
                   {"authors", QVariantList{object({{"name", "Ann Smith"}})}},
                   {"node", node}});
}

struct Case {
    const char* format;
    QVariantList arguments;
    QVariant subject;
    bool expected;
};

std::vector<Case> programCases()
{
    const QVariant doc = documentFixture();
    const QVariant author = object({{"name", "Ann Smith"}, {"isTrash", false}, {"fileInfos", QVariantList{doc}}});
    const QVariant lonelyAuthor = object({{"name", "Bo"}, {"fileInfos", QVariantList{}}});
    const QVariant docIndex = object({{"skDocumentID", qint64(-1)}, {"fileInfo", doc}});
    const QVariant rootNode = object({{"nodeID", QVariant::fromValue(maxNodeID)}, {"type", 2}, {"isTrash", false}});
    const QVariant folderMeta = object({{"folderID", QVariant::fromValue(quint64(1) << 63)}, {"fileInfo", doc}});
    const QVariant item = object({{"data", object({{"path", "/a/B.PDF"}, {"metadata", object({{"fileSize", 500}})}})}});
    const QVariant name = QStringLiteral("R\u00e9sum\u00e9.pdf");
    return {
        {"isTrash == NO", {}, doc, true},
        {"isTrash == YES && isNeedDelete == NO", {}, doc, false},
        {"isTrash == YES && isNeedDelete == YES", {}, doc, false},
        {"isIndex == YES && path BEGINSWITH[cd] %@", {"/users/ann/"}, doc, true},
        {"isTrash == NO && path BEGINSWITH[cd] %@", {"/USERS/ANN/DOCS/RESUME"}, doc, true},
        {"isTrash == NO && isIndex == YES && path BEGINSWITH[cd] %@", {"/Users/Bob"}, doc, false},
        {"metadata.md5 == nil && isTrash == NO", {}, doc, true},
        {"metadata.md5 != nil && isTrash == NO", {}, doc, false},
        {"metadata.dateModified != nil && isTrash == NO", {}, doc, true},
        {"metadata.dateLastOpen != nil && isTrash == NO", {}, doc, false},
        {"metadata.label > 0 && isTrash == NO", {}, doc, true},
        {"(pathExtension like[cd] \"PDF\" || pathExtension like[cd] \"doc\") && (isTrash == NO)", {}, doc, true},
        {"isTrash == NO && extendField == \"ReceiveFromDevice\"", {}, doc, true},
        {"isTrash == NO && node == nil", {}, doc, false},
        {"isTrash == NO && tags.@count == 0", {}, doc, false},
        {"isTrash == NO && node == %@", {fakeID(7)}, doc, true},
        {"isTrash == NO && (ANY tags == %@)", {fakeID(102)}, doc, true},
        {"isTrash == NO && (ANY tags == %@)", {fakeID(7)}, doc, false},
        {"(title CONTAINS[cd] \"report\") AND isTrash == NO", {}, doc, true},
        {"!(title CONTAINS[cd] \"REPORT\")", {}, doc, false},
        {"title ENDSWITH[cd] \"rePORT\" && title == \"Quarterly Report\"", {}, doc, true},
        {"metadata.rate > 3 && metadata.label != 2", {}, doc, false},
        {"metadata.rate < 5 || metadata.label == 1", {}, doc, true},
        {"metadata.fileSize > %f", {1023.5}, doc, true},
        {"(ANY tags.name == \"Work\")", {}, doc, true},
        {"(ANY tags.name != \"Work\" AND tags.@count == 1)", {}, doc, false},
        {"(ANY authors.name BEGINSWITH[cd] \"ann\")", {}, doc, true},
        {"(isIndex == YES &&  path BEGINSWITH[cd] \"/users\")", {}, doc, true},
        {"(isIndex == YES && !(path BEGINSWITH[cd] \"/users\"))", {}, doc, false},
        {"pathExtension == \".$#@\"", {}, doc, false},
        {"!(pathExtension like[cd] \"pdf\") && !(pathExtension like[cd] \"txt\")", {}, doc, false},
        {"node.nodeID == %@ OR node.nodeID == %@", {QVariant::fromValue(quint64(1)), QVariant::fromValue(maxNodeID)},
         doc, true},
        {"(node.nodeID != %@)", {QVariant::fromValue(maxNodeID)}, doc, false},
        {"(node.nodeID >= 0 || node == nil)", {}, doc, true},
        {"node != nil", {}, doc, true},
        {"metadata.dateModified > CAST(%f, \"NSDate\") && metadata.dateModified < CAST(%f, \"NSDate\")",
         {599529599.5, 599529600.5}, doc, true},
        {"metadata.dateModified < CAST(599529600, \"NSDate\") || metadata.dateModified > CAST(599529600.0, "
         "\"NSDate\")",
         {}, doc, false},
        {"(title CONTAINS[cd] \"quarter\" || metadata.comment CONTAINS[cd] \"quarter\") && (ANY tags.name "
         "like[cd] \"*urg*\") && (pathExtension like[cd] \"pdf\") && (ANY authors.name like[cd] \"*smith\")",
         {}, doc, true},
        {"isTrash == NO && name like[cd] %@", {"ann*"}, author, true},
        {"fileInfos.@count > 0 && (ANY fileInfos.isTrash == NO)", {}, author, true},
        {"fileInfos.@count > 0 && (ANY fileInfos.isTrash == NO)", {}, lonelyAuthor, false},
        {"group == nil && isTrash == NO", {}, author, true},
        {"nodeID == %@ && isTrash == NO", {QVariant::fromValue(maxNodeID)}, rootNode, true},
        {"nodeID == %ld", {qint64(-1)}, rootNode, false},
        {"parent == nil && (type == %d || type == %d || type == %d) && isTrash == NO", {1, 2, 3}, rootNode, true},
        {"(type == %d || type == %d) && isTrash == NO && parent == nil", {1, 3}, rootNode, false},
        {"folderID == %lu && fileInfo.isTrash == NO", {QVariant::fromValue(quint64(1) << 63)}, folderMeta, true},
        {"skDocumentID == -1 AND fileInfo.isTrash == NO", {}, docIndex, true},
        {"fileInfo.isTrash == NO && skDocumentID != -3", {}, docIndex, true},
        {"isNeedDelete == NO && dataURI like %@", {"x-folivo-store://*"},
         object({{"isNeedDelete", false}, {"dataURI", "x-folivo-store://A/DBNode/p3"}}), true},
        {"SELF BEGINSWITH[cd] %@", {"resume"}, name, true},
        {"SELF like[cd] %@", {"*.PDF"}, name, true},
        {"SELF like %@", {"*.PDF"}, name, false},
        {"SELF CONTAINS[cd] %@", {"SUM"}, name, true},
        {"self BEGINSWITH[cd] %@", {"x"}, name, false},
        {"SELF BEGINSWITH \"process ID\"", {}, QStringLiteral("process ID 42"), true},
        {"data.path like[cd] %@", {"*.pdf"}, item, true},
        {"data.metadata.fileSize >= %@ && data.metadata.fileSize < %@", {100, 1000}, item, true},
        {"sectionIndex == %ld", {qint64(3)}, QVariantMap{{"sectionIndex", 3}}, true},
    };
}

TEST(PredicateForms, EveryProgramFormParsesAndEvaluates)
{
    for (const Case& c : programCases()) {
        const Result<Predicate> p = Predicate::format(QString::fromUtf8(c.format), c.arguments);
        ASSERT_TRUE(p.has_value()) << c.format << ": " << qPrintable(p.error().message);
        EXPECT_EQ(p->evaluate(c.subject), c.expected) << c.format;
        // The logged text parses back to a predicate that decides the same (object IDs excepted).
        const bool plain = std::all_of(c.arguments.begin(), c.arguments.end(), [](const QVariant& a) {
            return a.metaType() != QMetaType::fromType<FakeID>();
        });
        if (!plain)
            continue;
        const Result<Predicate> again = Predicate::parse(p->toString());
        ASSERT_TRUE(again.has_value()) << qPrintable(p->toString()) << ": " << qPrintable(again.error().message);
        EXPECT_EQ(again->evaluate(c.subject), c.expected) << qPrintable(p->toString());
    }
}

TEST(PredicateForms, TruncatedAndMutatedTextsFailCleanly)
{
    // Every prefix and a run of seeded single-character corruptions: an error or a predicate,
    // never a crash or a hang.
    quint32 seed = 12345;
    auto nextRandom = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    const QString noise = QStringLiteral("()[]\"'\\%!=<>&|@.,*? aZ9-");
    int errors = 0;
    for (const Case& c : programCases()) {
        const QString text = QString::fromUtf8(c.format);
        for (qsizetype n = 0; n < text.size(); ++n) {
            if (!Predicate::format(text.left(n), c.arguments))
                ++errors;
        }
        for (int i = 0; i < 40; ++i) {
            QString mutated = text;
            mutated[nextRandom() % mutated.size()] = noise[nextRandom() % noise.size()];
            const Result<Predicate> p = Predicate::format(mutated, c.arguments);
            if (p)
                (void)p->evaluate(c.subject);
            else
                EXPECT_TRUE(p.error().message.contains(QLatin1String("at position"))) << qPrintable(mutated);
        }
    }
    EXPECT_GT(errors, 500);
}

} // namespace
