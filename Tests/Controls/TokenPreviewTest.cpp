// Draws a small window with the token editor and the colour picker as a user sees them and
// writes it next to the test programs (token-preview@1x.png, @2x) for a look by eye. Also
// checks that no token is cut by the editor's edge and that every token lies inside its line.
#include "Controls/KP28ColorsPicker.h"
#include "Controls/KPTokenEditorView.h"
#include "TokenTestSupport.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

using namespace tokentest;

TEST(TokenPreview, EditorWithTagAuthorAndContentTokensAndThePicker)
{
    QWidget window;
    window.resize(440, 130);
    window.setAutoFillBackground(true);
    window.setPalette(QPalette(QColor(236, 236, 236)));

    Owner owner;
    auto editor = makeEditor(owner, QSize(420, 44));
    editor->setParent(&window);
    editor->move(10, 10);
    KPTokenEditorViewDelegate d;
    d.cellForString = [](KPTokenEditorView*, const QString& s) -> KPTokenCellPtr {
        if (s.startsWith(u'@'))
            return std::make_shared<KPTokenAuthorAttachmentCell>(s.mid(1));
        if (s.startsWith(u'"'))
            return std::make_shared<KPTokenContentAttachmentCell>(s.mid(1));
        return std::make_shared<KPTokenTagAttachmentCell>(s);
    };
    d.drawBackground = [](KPTokenEditorView* e, QPainter& p) { p.fillRect(e->rect(), Qt::white); };
    editor->setDelegate(std::move(d));
    editor->setTokenValues({QStringLiteral("design"), QStringLiteral("@Ann Lee"), QStringLiteral("\"budget 2024"),
                            QStringLiteral("a rather long tag that will not fit in one token"), QStringLiteral("😀 émoji")});
    QTest::keyClicks(editor->textView(), QStringLiteral("draft"));

    KP28ColorsPicker picker({QStringLiteral("dark,60,60,60"), QStringLiteral("light,230,230,230"),
                             QStringLiteral("gray,111,125,140"), QStringLiteral("blue,52,120,200"),
                             QStringLiteral("red,200,60,60"), QStringLiteral("green,70,160,90"),
                             QStringLiteral("yellow,220,190,60")},
                            QRect(10, 80, 420, 40), &window);
    picker.selectWithName(QStringLiteral("blue"));
    window.show();
    QApplication::processEvents();

    for (const auto& run : editor->runs()) {
        if (!run.cell)
            continue;
        const QRectF frame = editor->textView()->tokenFrame(run.start);
        EXPECT_LE(frame.right(), editor->textView()->viewport()->width()) << run.text.toStdString();
        EXPECT_EQ(int(frame.top()) % 20, 2) << run.text.toStdString();   // the 2-point margin, then 20-point lines
    }

    for (int scale : {1, 2}) {
        QImage image(window.size() * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        window.render(&image);
        const QString path = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(
            QStringLiteral("../token-preview@%1x.png").arg(scale));
        EXPECT_TRUE(image.save(path)) << path.toStdString();
    }
}
