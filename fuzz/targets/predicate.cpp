// Predicate texts, which are often assembled from what users type. A parsed predicate must print
// as text that parses again to the same text, and evaluating it must not fail on any value.
#include "FuzzSupport.h"

#include "Platform/ObjectStore/Predicate/Predicate.h"

#include <QDateTime>

using platform::Predicate;

namespace {

const QVariant& sampleObject()
{
    static const QVariant object = QVariantMap{
        {QStringLiteral("name"), QStringLiteral("Café Menu.pdf")},
        {QStringLiteral("path"), QStringLiteral("/home/a/Documents/Café Menu.pdf")},
        {QStringLiteral("size"), 12345},
        {QStringLiteral("rating"), 2.5},
        {QStringLiteral("isTrash"), false},
        {QStringLiteral("date"), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)},
        {QStringLiteral("tags"), QVariantList{QStringLiteral("red"), QStringLiteral("blue"), 7}},
        {QStringLiteral("folder"), QVariantMap{{QStringLiteral("name"), QStringLiteral("Inbox")}}},
        {QStringLiteral("none"), QVariant()},
    };
    return object;
}

void check(const Predicate& predicate)
{
    predicate.evaluate(sampleObject());
    predicate.evaluate(QVariant(QStringLiteral("Café")));
    const QString text = predicate.toString();
    const auto again = Predicate::parse(text);
    if (!again)
        fuzz::fail("a predicate prints as text that does not parse",
                   text.left(500) + QStringLiteral(" — ") + again.error().message);
    if (again->toString() != text)
        fuzz::fail("a predicate's text changes when read again",
                   text.left(500) + QStringLiteral(" became ") + again->toString().left(500));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QString text = fuzz::utf8(data, size);
    if (const auto parsed = Predicate::parse(text))
        check(*parsed);
    static const QVariantList arguments{QStringLiteral("x%@y"), 3, 2.5, QStringLiteral("name"),
                                        QVariantList{1, QStringLiteral("two")}, QVariant(), true};
    if (const auto formatted = Predicate::format(text, arguments))
        check(*formatted);
    return 0;
}
