// Tokens as drawn in every generated theme: whatever colour a theme gives a kind of token, its
// text reads on it (4.5:1 at least), in each of its looks and at 1x and 2x.
#include "Support/GrabContrast.h"

#include "Controls/KPTokenAttachmentCell.h"
#include "SearchField/KPSTAttachmentCell.h"
#include "Theme/KPThemeManager.h"

#include <QPainter>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Kind {
    const char* name;
    std::function<KPTokenCellPtr(const QString&)> make;
};

const Kind kKinds[] = {
    {"tag", [](const QString& t) { return std::make_shared<KPTokenTagAttachmentCell>(t); }},
    {"author", [](const QString& t) { return std::make_shared<KPTokenAuthorAttachmentCell>(t); }},
    {"text content", [](const QString& t) { return std::make_shared<KPTokenContentAttachmentCell>(t); }},
    {"search text", [](const QString& t) { return std::make_shared<KPSTAttachmentCell>(t, SearchTokenText); }},
    {"search tag", [](const QString& t) { return std::make_shared<KPSTAttachmentCell>(t, SearchTokenTag); }},
    {"search file type", [](const QString& t) { return std::make_shared<KPSTAttachmentCell>(t, SearchTokenFileType); }},
    {"search author", [](const QString& t) { return std::make_shared<KPSTAttachmentCell>(t, SearchTokenAuthor); }},
};

class TokenLookTest : public ::testing::Test {
protected:
    void TearDown() override { KPThemeManager::themeManager()->updateThemeByName(QStringLiteral("gray")); }
};

TEST_F(TokenLookTest, TheTextOfEveryKindOfTokenReadsInEveryThemeAndLook)
{
    for (const QString& theme : KPThemeManager::themeNames()) {
        ASSERT_TRUE(KPThemeManager::themeManager()->updateThemeByName(theme)) << qPrintable(theme);
        for (const Kind& kind : kKinds) {
            const KPTokenCellPtr cell = kind.make(QStringLiteral("Invoices"));
            for (int look = 0; look < 3; ++look) {
                cell->setIsHighlight(look == 1);
                cell->setIsButtonDeleteDown(look == 2);
                for (const qreal scale : {1.0, 2.0}) {
                    SCOPED_TRACE(QStringLiteral("%1, %2 token, look %3, %4x").arg(theme, QLatin1String(kind.name)).arg(look).arg(scale).toStdString());
                    const QImage image = cell->thumbImage(scale);
                    // The text runs from 9 points in to the delete button; a point of the
                    // token's own ground is kept on every side so the edge is all ground.
                    const QRectF text(9, 4, cell->cellSize().width() - 9 - 22, KPTokenAttachmentCell::kHeight - 8);
                    const QRect pixels((text.topLeft() * scale).toPoint(), (text.size() * scale).toSize());
                    const testsupport::InkContrast m = testsupport::inkContrast(image, pixels);
                    EXPECT_GE(m.ratio, themecontrast::kMinimum) << "ink " << qPrintable(QColor(m.ink).name()) << " on "
                                                                << qPrintable(QColor(m.ground).name());
                }
            }
        }
    }
}

} // namespace
