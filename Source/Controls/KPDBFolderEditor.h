// A one-line pop-up field: an icon and a title that open a menu its owner supplies, just
// under the field. The owner decides whether there is a menu at all (none: a click does
// nothing); `editorEnabled` only governs the hover look, not the menu.
// Main thread only.
#pragma once

#include "Platform/Kit/TextAttributes.h"
#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QImage>
#include <QPointer>
#include <QSizeF>
#include <QWidget>
#include <functional>
#include <memory>

class KPDBFolderEditor;
class QMenu;

struct KPDBFolderEditorDelegate {
    // A new menu to show, or null for none; the editor deletes it at the next click or with
    // itself unless a Qt parent took it first.
    std::function<QMenu*(KPDBFolderEditor*)> folderEditorPopMenu;
};

class KPDBFolderEditor : public QWidget, public KPThemeBaseObjectProtocol {
public:
    explicit KPDBFolderEditor(const QRect& frame = {}, QWidget* parent = nullptr);
    ~KPDBFolderEditor() override;

    QString title() const { return m_title; }
    void setTitle(const QString& title);
    QImage icon() const { return m_icon; }
    void setIcon(const QImage& icon);
    QSizeF iconOffSet() const { return m_iconOffSet; }
    void setIconOffSet(QSizeF offset) { m_iconOffSet = offset; }
    bool editorEnabled() const { return m_enabled; }
    void setEditorEnabled(bool enabled) { m_enabled = enabled; }
    void setDelegate(KPDBFolderEditorDelegate delegate) { m_delegate = std::move(delegate); }

    bool isMouseIn() const { return m_mouseIn; }
    // The menu of the last click, while it exists.
    QMenu* shownMenu() const;
    // Where the title is drawn, y-up (empty without a title).
    QRectF titleRect() const;
    // Where the menu's top-left goes, in global coordinates: 3 points under the bottom-left.
    QPoint menuPosition() const;

    void themeUpdateWithName(const QString& themeName) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_title;
    QImage m_icon;
    QSizeF m_iconOffSet;
    bool m_enabled = true;
    bool m_mouseIn = false;
    platform::kit::TextAttributes m_textAttributes;
    QPointer<QMenu> m_menu;
    KPDBFolderEditorDelegate m_delegate;
};
