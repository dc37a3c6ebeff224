#include "Platform/Foundation/PropertyList.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/PasteboardCodec.h"

#include <QMimeData>
#include <gtest/gtest.h>

namespace pb = platform::kit::pasteboard;

namespace {

QVariantMap item(const QString& type, const QString& data)
{
    return {{QStringLiteral("Type"), type}, {QStringLiteral("Data"), data}};
}

QMimeData* withBytes(QMimeData& mime, const QByteArray& bytes)
{
    mime.setData(pb::kTokenEditor, bytes);
    return &mime;
}

QByteArray xml(const QVariant& value)
{
    return platform::PropertyList::write(value, platform::PlistFormat::Xml).value();
}

} // namespace

TEST(PasteboardCodec, TokenPayloadsRoundTripInOrder)
{
    const QVariantList items{item(QStringLiteral("KPTokenTagAttachmentCell"), QStringLiteral("a")),
                             item(QStringLiteral("String"), QStringLiteral("b <&> ü 😀")),
                             item(QStringLiteral("KPTokenAuthorAttachmentCell"), QString())};
    for (const QVariantList& payload : {items, QVariantList()}) {
        QMimeData mime;
        ASSERT_TRUE(pb::writeValue(mime, pb::kTokenEditor, payload).has_value());
        EXPECT_TRUE(mime.data(pb::kTokenEditor).startsWith("<?xml"));
        const auto back = pb::readRecords(mime, pb::kTokenEditor);
        ASSERT_TRUE(back.has_value()) << back.error().toString().toStdString();
        EXPECT_EQ(*back, payload);
    }
}

TEST(PasteboardCodec, RefusesHostilePayloadsAsAWhole)
{
    QMimeData absent;
    EXPECT_FALSE(pb::readValue(absent, pb::kTokenEditor).has_value());

    const QVariantList good{item(QStringLiteral("String"), QStringLiteral("x"))};
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"not a plist", QByteArrayLiteral("hello, tokens")},
        {"truncated XML", xml(good).left(60)},
        {"binary plist", platform::PropertyList::write(good, platform::PlistFormat::Binary).value()},
        {"a dictionary, not an array", xml(item(QStringLiteral("String"), QStringLiteral("x")))},
        {"an item that is not a dictionary", xml(QVariantList{good.first(), QStringLiteral("stray")})},
        {"empty bytes", QByteArray()},
    };
    for (const auto& c : cases) {
        QMimeData mime;
        EXPECT_FALSE(pb::readRecords(*withBytes(mime, c.bytes), pb::kTokenEditor).has_value()) << c.what;
    }
}

TEST(PasteboardCodec, OneByteAboveTheLimitIsRefusedEvenWhenWellFormed)
{
    // A valid plist whose size is tuned to the limit, then one byte more.
    const QByteArray shell = xml(QVariantList{QString()});
    const qsizetype fill = pb::kMaxPayloadBytes - shell.size();
    const QByteArray atLimit = xml(QVariantList{QString(fill, u'x')});
    ASSERT_EQ(atLimit.size(), pb::kMaxPayloadBytes);
    const QByteArray above = xml(QVariantList{QString(fill + 1, u'x')});

    QMimeData ok;
    EXPECT_TRUE(pb::readValue(*withBytes(ok, atLimit), pb::kTokenEditor).has_value());
    QMimeData big;
    EXPECT_FALSE(pb::readValue(*withBytes(big, above), pb::kTokenEditor).has_value());
}
