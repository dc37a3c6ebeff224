#include "Dialogs/Welcome/NoDocumentView.h"

#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/TextAttributes.h"
#include "Platform/Workspace/Workspace.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPCustomThemeObjectValue.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

using platform::localizedString;
using platform::kit::TextAttributes;

namespace {

KPCustomThemeObject* group()
{
    return KPThemeObject::customThemeObjectWithName(QStringLiteral("NoDocumentView"));
}

TextAttributes attributes(const char* name)
{
    if (KPCustomThemeObject* g = group())
        if (auto* style = g->themeObjectWithName<KPTextStyle>(QLatin1String(name)))
            return style->textAttribute();
    return TextAttributes::plain(QApplication::font());
}

const KPSprite* sprite(KPThemeObject* object)
{
    auto* s = dynamic_cast<KPSprite*>(object);
    return s && !s->image().isNull() ? s : nullptr;
}

const KPSprite* blankDocument()
{
    return sprite(KPThemeObject::themeObjectWithName(QStringLiteral("blank_document")));
}

const KPSprite* learnMoreImage()
{
    KPCustomThemeObject* g = group();
    return g ? sprite(g->themeObjectWithName(QStringLiteral("learnMoreImage"))) : nullptr;
}

QPointF addButtonOffset()
{
    if (KPCustomThemeObject* g = group())
        if (auto* value = g->themeObjectWithName<KPCustomThemeObjectValue>(QStringLiteral("AddButtonOffset")))
            if (value->objectValue().canConvert<QPointF>())
                return value->objectValue().toPointF();
    return {};
}

// A text's rectangle centred horizontally in width, at y.
QRectF centred(const QString& text, const TextAttributes& attrs, qreal width, qreal y)
{
    const QSizeF size = platform::kit::textSize(text, attrs);
    return QRectF(std::round((width - size.width()) / 2), y, size.width(), size.height());
}

qreal centreY(const QString& text, const TextAttributes& attrs, qreal height)
{
    return std::round((height - platform::kit::textSize(text, attrs).height()) / 2);
}

} // namespace

NoDocumentView::NoDocumentView(QWidget* parent) : NoDocumentView(Options(), parent) {}

NoDocumentView::NoDocumentView(Options options, QWidget* parent)
    : QWidget(parent),
      m_options(std::move(options)),
      m_noDocumentStr(localizedString(QStringLiteral("No Documents"))),
      m_descStr1(localizedString(QStringLiteral("Drag documents here to import"))),
      m_descStr2(localizedString(QStringLiteral("or click to connect Cloud Folder."))),
      m_learnMoreStr(localizedString(QStringLiteral("Learn More"))),
      m_preferredLang(preferredLanguage())
{
    setObjectName(QStringLiteral("NoDocumentView"));
    setMouseTracking(true);
    // Every piece is read from the theme when drawn; a switch only needs a new drawing.
    m_themeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KPThemeManager::kThemeChangeNotification, [this](const platform::Notification&) { update(); });
}

QString NoDocumentView::preferredLanguage()
{
    const QVariantList languages =
        platform::UserDefaults::standardUserDefaults().arrayForKey(QStringLiteral("AppleLanguages"));
    if (!languages.isEmpty())
        return languages.first().toString();
    return QLocale::system().uiLanguages().value(0);
}

bool NoDocumentView::isSimplifiedChinese(const QString& language)
{
    QString name = language.trimmed();
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    if (!name.startsWith(QLatin1String("zh"), Qt::CaseInsensitive))
        return false;
    const QLocale locale(name);
    return locale.language() == QLocale::Chinese && locale.script() == QLocale::SimplifiedHanScript;
}

NoDocumentView::Layout NoDocumentView::layout() const
{
    const qreal W = width();
    const qreal H = height();
    Layout l;
    const TextAttributes titleAttrs = attributes("NoDocumentText");
    const TextAttributes descAttrs = attributes("NoDocumentDescText");

    l.title = centred(m_noDocumentStr, titleAttrs, W, centreY(m_noDocumentStr, titleAttrs, H));
    if (const KPSprite* image = blankDocument()) {
        const QSizeF size = image->size();
        l.image = QRectF(std::round((W - size.width()) / 2), l.title.y() + 40, size.width(), size.height());
        l.hasImage = true;
    }
    l.desc1 = centred(m_descStr1, descAttrs, W, 0);
    l.desc1.moveTop(centreY(m_descStr1, descAttrs, H) - (20 + l.desc1.height()));
    l.desc2 = centred(m_descStr2, descAttrs, W, 0);
    l.desc2.moveTop(centreY(m_descStr2, descAttrs, H) - (40 + l.desc2.height()));

    const qreal shift = isSimplifiedChinese(m_preferredLang) ? 0 : kPlusLanguageShift;
    l.plus = QPointF(l.desc2.x() + 50 + shift, l.desc2.y() + 7) + addButtonOffset();

    if (m_options.hosts.linkURL(MakerHosts::kLearnMorePath).isValid()) {
        const TextAttributes linkAttrs = attributes(m_isMouseIn ? "LearnMoreMouseInText" : "LearnMoreText");
        l.learnMore = centred(m_learnMoreStr, linkAttrs, W, l.desc2.y() - 40);
        l.hasLink = true;
        if (const KPSprite* image = learnMoreImage()) {
            l.learnMoreImage = QRectF(QPointF(l.learnMore.right() + 2, l.learnMore.y()), image->size());
            l.hasLinkImage = true;
        }
    }
    return l;
}

void NoDocumentView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    platform::kit::Canvas canvas(painter, height());
    const Layout l = layout();
    const TextAttributes descAttrs = attributes("NoDocumentDescText");

    canvas.drawText(l.title, m_noDocumentStr, attributes("NoDocumentText"));
    if (l.hasImage)
        canvas.drawImage(l.image, blankDocument()->image());
    canvas.drawText(l.desc1, m_descStr1, descAttrs);
    canvas.drawText(l.desc2, m_descStr2, descAttrs);

    const QColor plusColor = descAttrs.colorOrDefault();
    canvas.fillRect(QRectF(l.plus.x(), l.plus.y(), 13, 3), plusColor);
    canvas.fillRect(QRectF(l.plus.x() + 5, l.plus.y() - 5, 3, 13), plusColor);

    if (l.hasLink) {
        canvas.drawText(l.learnMore, m_learnMoreStr, attributes(m_isMouseIn ? "LearnMoreMouseInText" : "LearnMoreText"));
        if (l.hasLinkImage)
            canvas.drawImage(l.learnMoreImage, learnMoreImage()->image());
    }
}

void NoDocumentView::setMouseIn(bool in)
{
    if (in == m_isMouseIn)
        return;
    m_isMouseIn = in;
    setCursor(in ? Qt::PointingHandCursor : Qt::ArrowCursor);
    // The hot area of either style: the lit text may measure differently.
    const QRectF before = layout().hotArea();
    m_isMouseIn = !in;
    const QRectF after = layout().hotArea();
    m_isMouseIn = in;
    const QRectF up = before.united(after);
    update(QRectF(up.x(), height() - up.bottom(), up.width(), up.height()).toAlignedRect().adjusted(-1, -1, 1, 1));
}

void NoDocumentView::mouseMoveEvent(QMouseEvent* event)
{
    const QPointF up(event->position().x(), height() - event->position().y());
    setMouseIn(layout().hotArea().contains(up));
}

void NoDocumentView::leaveEvent(QEvent*)
{
    setMouseIn(false);
}

void NoDocumentView::mousePressEvent(QMouseEvent* event)
{
    const QPointF up(event->position().x(), height() - event->position().y());
    if (event->button() != Qt::LeftButton || !layout().hotArea().contains(up))
        return;
    platform::Workspace& workspace = m_options.workspace ? *m_options.workspace : platform::Workspace::shared();
    if (auto opened = workspace.openURL(m_options.hosts.linkURL(MakerHosts::kLearnMorePath)); !opened)
        KPLogLogMessage(QStringLiteral("The Learn More page could not be opened: %1").arg(opened.error().toString()));
}
