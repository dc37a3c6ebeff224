#include "Controls/KPDBFolderEditor.h"

#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPThemeManager.h"

#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

KPDBFolderEditor::KPDBFolderEditor(const QRect& frame, QWidget* parent)
    : QWidget(parent)
{
    if (frame.isValid())
        setGeometry(frame);
    m_textAttributes.font = platform::kit::FontResolver::systemFont(12);
    m_textAttributes.color = QColor(90, 90, 90);
    m_textAttributes.hasParagraphStyle = true;
    m_textAttributes.lineBreakMode = 4;
    m_textAttributes.shadow = platform::kit::TextShadow{QColor(240, 240, 240), QSizeF(0, -1), std::nullopt};
    KPThemeManager::themeManager()->addThemeObject(this);
}

KPDBFolderEditor::~KPDBFolderEditor() = default;

QMenu* KPDBFolderEditor::shownMenu() const
{
    return m_menu.data();
}

void KPDBFolderEditor::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void KPDBFolderEditor::setIcon(const QImage& icon)
{
    m_icon = icon;
    update();
}

void KPDBFolderEditor::themeUpdateWithName(const QString&)
{
    update();
}

QRectF KPDBFolderEditor::titleRect() const
{
    if (m_title.isEmpty())
        return {};
    const qreal h = platform::kit::textSize(m_title, m_textAttributes).height();
    const qreal x = m_icon.isNull() ? 4 : 4 + m_iconOffSet.width() + m_icon.deviceIndependentSize().width() + 4;
    return QRectF(x, std::round((height() - h) / 2), width() - 15, h);
}

QPoint KPDBFolderEditor::menuPosition() const
{
    return mapToGlobal(QPoint(0, height() + 3));
}

void KPDBFolderEditor::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    platform::kit::Canvas canvas(painter, height());
    if (m_mouseIn && m_enabled) {
        KPCustomThemeObject* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("PropertyView"));
        auto* bg = group ? group->themeObjectWithName<KPHorizontalSprite>(QStringLiteral("PropertyViewComboxButton"))
                         : nullptr;
        if (bg) {
            auto draw = [&](KPSprite* part, const QRectF& at) {
                if (part && !part->image().isNull() && at.width() > 0)
                    canvas.drawImage(at, part->image());
            };
            draw(bg->leftSprite(), QRectF(0, 0, 10, 23));
            draw(bg->centerSprite(), QRectF(10, 0, width() - 30, 23));
            draw(bg->rightSprite(), QRectF(width() - 20, 0, 20, 23));
        }
    }
    if (!m_icon.isNull()) {
        const QSizeF size = m_icon.deviceIndependentSize();
        const qreal y = std::round((height() - size.height()) / 2) + m_iconOffSet.height();
        canvas.drawImage(QRectF(QPointF(4 + m_iconOffSet.width(), y), size), m_icon);
    }
    if (!m_title.isEmpty())
        canvas.drawText(titleRect(), m_title, m_textAttributes);
}

void KPDBFolderEditor::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_delegate.folderEditorPopMenu)
        return QWidget::mousePressEvent(event);
    QMenu* menu = m_delegate.folderEditorPopMenu(this);
    if (m_menu && m_menu != menu)
        m_menu->deleteLater();
    m_menu = menu;
    if (!menu)
        return;
    if (!menu->parent())
        menu->setParent(this, menu->windowFlags());
    menu->setFont(platform::kit::FontResolver::systemFont(12));
    menu->popup(menuPosition());
}

void KPDBFolderEditor::enterEvent(QEnterEvent*)
{
    m_mouseIn = true;
    update();
}

void KPDBFolderEditor::leaveEvent(QEvent*)
{
    m_mouseIn = false;
    update();
}
