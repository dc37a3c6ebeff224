// Smart-folder rules as DBSmartFolder.data keeps them: a keyed archive anyone could have
// edited. Whatever it holds, the translated text is empty or parses, and the predicate it gives
// evaluates on a document without failing.
#include "FuzzSupport.h"

#include "Platform/Foundation/KeyedUnarchiver.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SmartFolder/KPSmartDataExport.h"

#include <QDateTime>

namespace {

const KPSmartDataExport::Environment& environment()
{
    static const KPSmartDataExport::Environment env = [] {
        KPSmartDataExport::Environment e;
        e.now = QDateTime(QDate(2026, 3, 29), QTime(12, 0), Qt::UTC);
        e.extensions = [](qint64 kind) { return kind == 5 ? QStringList{"jpg", "j*g\\\"%"} : QStringList(); };
        e.collection = [](quint64 id) -> std::optional<KPSmartDataExport::CollectionIds> {
            if (id % 3 == 0)
                return std::nullopt;
            return KPSmartDataExport::CollectionIds{id, id % 3 == 1 ? QList<quint64>{id, id + 1} : QList<quint64>{}};
        };
        return e;
    }();
    return env;
}

const QVariant& sampleDocument()
{
    static const QVariant document = QVariantMap{
        {"title", "Café \"Menu\" 50%"},
        {"path", "/a/b/Café.pdf"},
        {"pathExtension", "pdf"},
        {"isIndex", true},
        {"isTrash", false},
        {"tags", QVariantList{QVariantMap{{"name", "work"}}, QVariantMap{{"name", "a\\b"}}}},
        {"authors", QVariantList{}},
        {"node", QVariantMap{{"nodeID", 7}}},
        {"metadata", QVariantMap{{"rate", 3}, {"label", 2}, {"fileSize", 123456},
                                 {"dateCreated", QDateTime(QDate(2026, 3, 29), QTime(0, 0), Qt::UTC)}}},
    };
    return document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const auto decoded = platform::KeyedUnarchiver::unarchiveObject(fuzz::bytes(data, size));
    if (!decoded || decoded->typeId() != QMetaType::QVariantMap)
        return 0;
    const QString text = KPSmartDataExport::smartStringFromData(decoded->toMap(), environment());
    if (text.isEmpty())
        return 0;
    const auto predicate = platform::Predicate::parse(text);
    if (!predicate) {
        fuzz::fail("smart-folder rules translate to text that does not parse",
                   fuzz::printable(text.left(500)) + QStringLiteral(" — ") + predicate.error().message);
        return 0;
    }
    if (!text.endsWith(QStringLiteral("isTrash == NO")))
        fuzz::fail("smart-folder rules translate to text that lets trashed documents through", text.left(500));
    predicate->evaluate(sampleDocument());
    return 0;
}
