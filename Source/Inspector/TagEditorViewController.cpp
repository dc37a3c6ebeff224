#include "Inspector/TagEditorViewController.h"

#include "Controls/KPTokenAttachmentCell.h"
#include "Controls/KPTokenEditorView.h"
#include "Inspector/AutoCompletedViewController.h"
#include "Inspector/AutoCompletedWindow.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/Popover.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>

using platform::kit::keychar::Escape;

TagEditorViewController::TagEditorViewController(bool importTagMode, QWidget* parent)
    : QWidget(parent), m_importTagMode(importTagMode)
{
    resize(kContentSize);
    const QString titlePath = platform::Bundle::mainBundle().pathForResource(QStringLiteral("TagEditorVCTitleBG"),
                                                                             QStringLiteral("png"));
    if (!titlePath.isEmpty())
        m_titleBG.load(titlePath);

    m_tagEditView = new KPTokenEditorView(QRect(), this);
    KPTokenEditorViewDelegate delegate;
    delegate.cellForString = [](KPTokenEditorView*, const QString& text) -> KPTokenCellPtr {
        return std::make_shared<KPTokenTagAttachmentCell>(text);
    };
    // Only tag tokens can be pasted in: an author token inserts nothing.
    delegate.attachmentType = [](KPTokenEditorView*, const QString& type) -> KPTokenCellPtr {
        if (type == QLatin1String("KPTokenTagAttachmentCell"))
            return std::make_shared<KPTokenTagAttachmentCell>();
        return nullptr;
    };
    delegate.textDidChange = [this](KPTokenEditorView* view) {
        if (m_delegate.onTagEditorVCValueChange)
            m_delegate.onTagEditorVCValueChange(this, view->tokenValues());
    };
    delegate.enterDone = [this] { onEnterDone(); };
    delegate.partValueChange = [this](KPTokenEditorView*, const std::optional<QString>& text) {
        return onPartValueChange(text);
    };
    delegate.partKeyDown = [this](KPTokenEditorView*, int key) -> std::optional<QString> {
        if (!m_autoWindow || !m_autoCompletedVC)
            return std::nullopt;
        return m_autoCompletedVC->doMoveRecordByKeyCode(key);
    };
    delegate.autoCompletedDone = [this](KPTokenEditorView*) { closeCompletion(); };
    m_tagEditView->setDelegate(std::move(delegate), this);
    m_tagEditView->setPastesUnknownTokensAsText(false);
    m_tagEditView->textView()->installEventFilter(this);

    m_btnImport = new QPushButton(platform::localizedString(QStringLiteral("Import")), this);
    m_btnCancel = new QPushButton(platform::localizedString(QStringLiteral("Cancel")), this);
    m_btnImport->setFocusPolicy(Qt::NoFocus);
    m_btnCancel->setFocusPolicy(Qt::NoFocus);
    QObject::connect(m_btnImport, &QPushButton::clicked, this, [this] { btnImportClick(); });
    QObject::connect(m_btnCancel, &QPushButton::clicked, this, [this] { onBtnCancelClick(); });
    m_btnImport->setVisible(importTagMode);
    m_btnCancel->setVisible(importTagMode);
    layoutControls();
}

TagEditorViewController::~TagEditorViewController()
{
    if (m_autoWindow)
        delete m_autoWindow.data();
}

TagEditorViewController* TagEditorViewController::documentTagEditor(
    const QStringList& tags, std::function<void(const QStringList&)> valueChange, std::function<void()> done)
{
    auto* editor = new TagEditorViewController;
    TagEditorViewControllerDelegate delegate;
    delegate.onTagEditorVCValueChange = [valueChange = std::move(valueChange)](TagEditorViewController*,
                                                                               const QStringList& names) {
        if (valueChange)
            valueChange(names);
    };
    delegate.onTagEditorVCDone = [done = std::move(done)](TagEditorViewController*) {
        if (done)
            done();
    };
    editor->setDelegate(std::move(delegate));
    editor->setTagObjects(tags);
    return editor;
}

TagEditorViewController* TagEditorViewController::askImportTags(QWidget* anchor,
                                            std::function<void(int, const QStringList&)> answer,
                                            DataBaseEngine* engine)
{
    if (!anchor) {
        if (answer)
            answer(0, {});
        return nullptr;
    }
    auto* popover = new platform::kit::Popover(platform::kit::Popover::Form::Overlay, anchor);
    QPointer<TagEditorViewController> editor = initWithImportTagMode();
    editor->setDataBaseEngine(engine);
    editor->setParentPopover(popover);
    popover->setContentWidget(editor);
    popover->setContentSize(kContentSize);
    popover->setOnClosed([popover, editor, answer = std::move(answer)] {
        if (answer)
            answer(editor ? editor->returnCode() : 0, editor ? editor->tagObjects() : QStringList());
        // The editor sits in the window, not in the popover object: both go.
        if (editor)
            editor->deleteLater();
        popover->deleteLater();
    });
    popover->show(anchor, QRect(), platform::kit::PopoverEdge::MinY);
    return editor;
}

void TagEditorViewController::setTagObjects(const QStringList& names)
{
    m_tmpTagValues = names;
    if (!m_importTagMode && !names.isEmpty())
        m_tagEditView->setTokenValues(names);
}

QStringList TagEditorViewController::tagObjects() const
{
    return m_tagEditView->tokenValues();
}

AutoCompletedWindow* TagEditorViewController::autoCompletedWindow() const
{
    return m_autoWindow.data();
}

platform::kit::Popover* TagEditorViewController::parentPopover() const
{
    return m_parentPopover ? m_parentPopover.data() : platform::kit::Popover::owning(this);
}

void TagEditorViewController::setParentPopover(platform::kit::Popover* popover)
{
    m_parentPopover = popover;
}

void TagEditorViewController::layoutControls()
{
    const int w = width();
    const int h = height();
    // Given y-up: the field sits above the buttons in import-tag mode, under the title otherwise.
    const QRectF field = m_importTagMode ? QRectF(2, 30, w - 4, h - 65) : QRectF(2, 2, w - 4, h - 40);
    m_tagEditView->setGeometry(platform::kit::toQt(field, h).toAlignedRect());
    const int buttonWidth = 80;
    const int buttonHeight = 24;
    m_btnImport->setGeometry(w - buttonWidth - 6, h - buttonHeight - 3, buttonWidth, buttonHeight);
    m_btnCancel->setGeometry(w - 2 * buttonWidth - 10, h - buttonHeight - 3, buttonWidth, buttonHeight);
}

void TagEditorViewController::resizeEvent(QResizeEvent*)
{
    layoutControls();
}

void TagEditorViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_tagEditView->textView()->setFocus(Qt::OtherFocusReason);
    if (m_importTagMode) {
        // The window manager may refuse; nothing depends on it.
        if (QWidget* top = window())
            top->activateWindow();
    }
}

void TagEditorViewController::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    platform::kit::Canvas canvas(painter, height());
    const qreal h = height();
    if (!m_titleBG.isNull())
        canvas.drawImage(QRectF(0, h - 32, 220, 30), m_titleBG);
    platform::kit::TextAttributes title;
    title.font = platform::kit::FontResolver::fontNamed(QStringLiteral("LucidaGrande"), 14)
                     .value_or(platform::kit::FontResolver::systemFont(14));
    // Dark enough to read on the light title band (4.5:1 at the least).
    title.color = QColor(88, 88, 88);
    title.hasParagraphStyle = true;
    title.alignment = 2;
    title.lineBreakMode = 4;
    title.shadow = platform::kit::TextShadow{Qt::white, QSizeF(0, -1), std::nullopt};
    canvas.drawText(QRectF(0, h - 28, 220, 22), platform::localizedString(QStringLiteral("Tags")), title);
}

bool TagEditorViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_tagEditView->textView() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (platform::kit::Input::keyCharacter(key) == Escape && !m_tagEditView->textView()->isComposing()) {
            // The field's own Escape, minus its "done" when nothing is typed: Escape marks the
            // field and drops the typed part, and the popover stays open.
            m_inEscape = true;
            m_tagEditView->runEdit([this] { m_tagEditView->cancel(); });
            m_inEscape = false;
            closeCompletion();
            key->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TagEditorViewController::onEnterDone()
{
    if (m_inEscape)
        return;
    platform::kit::Popover* popover = parentPopover();
    if (!popover)
        return;
    if (m_importTagMode && !m_tagEditView->bESCDown())
        m_returnCode = 1;
    QPointer<TagEditorViewController> self(this);
    closeCompletion();
    popover->close();
    if (self && m_delegate.onTagEditorVCDone)
        m_delegate.onTagEditorVCDone(this);
}

void TagEditorViewController::endImport(int returnCode)
{
    m_returnCode = returnCode;
    closeCompletion();
    if (platform::kit::Popover* popover = parentPopover())
        popover->close();
}

void TagEditorViewController::btnImportClick()
{
    endImport(1);
}

void TagEditorViewController::onBtnCancelClick()
{
    endImport(0);
}

void TagEditorViewController::closeCompletion()
{
    if (!m_autoWindow)
        return;
    // Later: a click on the list ends here while the list is still handling it.
    m_autoWindow->hide();
    m_autoWindow->deleteLater();
    m_autoWindow = nullptr;
}

std::optional<QString> TagEditorViewController::onPartValueChange(const std::optional<QString>& text)
{
    if (!text) {
        closeCompletion();
        return std::nullopt;
    }
    if (!m_autoCompletedVC) {
        m_autoCompletedVC.reset(AutoCompletedViewController::initWithTagModel(m_engine));
        m_autoCompletedVC->setDelegate({[this](const QString& name, AutoCompletedViewController*) {
            m_tagEditView->updateCurrentPartValue(name);
        }});
    }
    const std::optional<QString> first = m_autoCompletedVC->doSearchValue(*text);
    if (!first) {
        closeCompletion();
        return std::nullopt;
    }
    if (!m_autoWindow)
        m_autoWindow = new AutoCompletedWindow(m_autoCompletedVC.get());
    m_autoWindow->showAtCaret(m_tagEditView, m_tagEditView->selectRangeLocation());
    // Part of the popover: a press on it keeps the popover open, and it goes when the popover does.
    if (platform::kit::Popover* popover = parentPopover())
        popover->addCompletionPopup(m_autoWindow);
    return first;
}
