// The mouse, keys, editors, popovers, drags and drops of the document item view.
#include "Browser/ItemViews/KPSectionItemView.h"

#include "Browser/BrowserText.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Browser/DocumentOpening.h"
#include "Browser/ItemViews/ItemViewGeometry.h"
#include "Browser/ItemViews/KPFlagPickerView.h"
#include "Browser/ItemViews/KPSectionItemViewOverLayerToolBar.h"
#include "Browser/KPViewSizeManager.h"
#include "Import/KPImportKeys.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/TextFolding.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/Input.h"
#include "Platform/Kit/Pasteboard.h"
#include "Platform/Kit/Popover.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Store/KPLibraryFileManager.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <utility>

using platform::kit::Canvas;

namespace {

const QString kRefreshItemCount = QStringLiteral("RefreshItemCountNotification");
const QString kMonitorResign = QStringLiteral("MonitorResignWindowResign");

// The inline title editor: Return and Esc end it, and so does the focus moving away.
class TitleEditor : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    std::function<void(bool cancelled)> onKey;
    std::function<void()> onFocusOut;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        const char16_t key = platform::kit::Input::keyCharacter(event);
        if ((key == platform::kit::keychar::Return || event->key() == Qt::Key_Enter || key == platform::kit::keychar::Escape) && onKey) {
            event->accept();
            onKey(key == platform::kit::keychar::Escape);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
    // Focus moving elsewhere in the window ends the edit; the window going to the background or
    // a menu popping up does not.
    void focusOutEvent(QFocusEvent* event) override
    {
        QLineEdit::focusOutEvent(event);
        if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
            return;
        if (onFocusOut)
            onFocusOut();
    }
};

void showAlert(QWidget* view, const QString& key, const QString& name, const QString& informative = {},
               platform::kit::Alert::Completion completion = {})
{
    platform::kit::Alert alert = platform::kit::Alert::withMessage(browsertext::format(key, {name}), browsertext::text(QStringLiteral("OK")),
                                                                   {}, {}, informative);
    alert.beginSheet(view->window(), std::move(completion));
}

} // namespace

bool KPSectionItemView::canEditMetadata() const
{
    return m_itemData && !m_isSafeBoxItem && services().library;
}

QRectF KPSectionItemView::iconFlagZone() const
{
    return QRectF(frameRect().right() - 1, m_actualFrameRect.bottom() - 26, 16, 20);
}

bool KPSectionItemView::willSelectByPoint(const QPointF& p) const
{
    if (!isIconMode())
        return true;
    return m_actualFrameRect.contains(p) || m_actualTextRect.contains(p) || m_actualTagRect.contains(p) ||
           m_actualRateRect.contains(p);
}

bool KPSectionItemView::willSelectByRect(const QRectF& rect) const
{
    return rect.intersects(m_actualFrameRect);
}

bool KPSectionItemView::trackMouseEnterWithEvent(const QPointF& p) const
{
    if (!isIconMode())
        return true;
    const QRectF f = frameRect();
    return QRectF(f.right(), f.bottom() - 26, 16, 20).contains(p) || f.contains(p) || m_actualTagRect.contains(p);
}

// ---------------------------------------------------------------------------------------------
// Hover and the tool bar

void KPSectionItemView::mouseEntered(const QPointF&)
{
    m_isMouseIn = true;
    update();
    if (!isIconMode() || !m_itemData)
        return;
    if (KPCollectionView* grid = collectionView(); grid && grid->selectedIndexs().size() > 1)
        return;
    if (!m_toolBar)
        m_toolBar = new KPSectionItemViewOverLayerToolBar(this);
    const QRectF f = m_actualFrameRect.isEmpty() ? frameRect() : m_actualFrameRect;
    m_toolBar->setGeometry(platform::kit::toQt(QRectF(f.x() + 1, f.y() + 1, f.width() - 2, 28), height()).toRect());
    m_toolBar->setIsSelected(selected());
    m_toolBar->setItemData(m_itemData);
    m_toolBar->fadeIn();
}

void KPSectionItemView::mouseExited()
{
    m_isMouseIn = false;
    update();
    if (m_toolBar)
        m_toolBar->fadeOut();
}

void KPSectionItemView::hideToolBar(bool animated)
{
    if (!m_toolBar)
        return;
    if (animated)
        m_toolBar->fadeOut();
    else
        m_toolBar->hideNow();
}

void KPSectionItemView::moveEvent(QMoveEvent* event)
{
    KPCollectionItemView::moveEvent(event);
    hideToolBar(false);
}

void KPSectionItemView::prepareForReuse()
{
    hideToolBar(false);
    // An edit scrolled out of sight is kept, as when the focus leaves it.
    endEditing();
    removeTagEditorPopver();
    if (m_flagPopover)
        m_flagPopover->close();
    m_delayed.cancelAll();
    m_tracking = Tracking::None;
    m_isMouseIn = false;
    m_isDragDroping = false;
}

// ---------------------------------------------------------------------------------------------
// Mouse

void KPSectionItemView::mousePressEvent(QMouseEvent* event)
{
    pressed(event, 1);
}

void KPSectionItemView::mouseDoubleClickEvent(QMouseEvent* event)
{
    pressed(event, 2);
}

void KPSectionItemView::pressed(QMouseEvent* event, int clickCount)
{
    if (event->button() != Qt::LeftButton || platform::kit::Input::isContextClick(event) || !m_itemData) {
        event->ignore();
        return;
    }
    const QPointF p = eventPointUp(event->position());
    m_firstMouseDownPoint = p;
    m_tracking = Tracking::None;
    if (isIconMode() && !willSelectByPoint(p)) {
        if (iconFlagZone().contains(p)) {
            event->accept();
            m_tracking = Tracking::FlagZone;
        } else {
            event->ignore();
        }
        return;
    }
    event->accept();
    const bool wasSelected = selected();
    KPCollectionView* grid = collectionView();
    // A click on the title of one of several selected items selects it; it does not rename.
    const bool wasMultiple = grid && grid->selectedIndexs().size() > 1;
    m_dragStarted = false;
    doSelectedWithEvent(event);
    if (m_actualRateRect.contains(p) && canEditMetadata()) {
        m_tracking = Tracking::Rate;
        setRateFromPoint(p);
        return;
    }
    if (clickCount == 1) {
        if (m_actualTextRect.contains(p) && !wasSelected)
            return;
        m_delayed.perform(kSingleClickDelayMs, [this, p, wasMultiple] { onSingleClick(p, wasMultiple); });
    } else {
        m_delayed.cancelAll();
        onDoubleClick();
    }
    m_tracking = Tracking::Drag;
}

void KPSectionItemView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const QPointF p = eventPointUp(event->position());
    if (m_tracking == Tracking::Rate) {
        setRateFromPoint(p);
    } else if (m_tracking == Tracking::Drag) {
        m_delayed.cancelAll();
        hideToolBar(false);
        if (!traceMouseDraggedEvent(p))
            m_tracking = Tracking::None;
    }
}

void KPSectionItemView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPointF p = eventPointUp(event->position());
    const Tracking tracking = std::exchange(m_tracking, Tracking::None);
    if (KPCollectionView* grid = collectionView())
        grid->doFinishItemClick(m_dragStarted);
    if (tracking == Tracking::Rate) {
        finishRating(p);
        return;
    }
    if (m_isSafeBoxItem || !m_itemData)
        return;
    if (isIconMode()) {
        if (iconFlagZone().contains(p))
            openFlagPopover(iconFlagZone());
    } else if (listFlagZone().contains(m_firstMouseDownPoint)) {
        openFlagPopover(listFlagZone());
    }
}

void KPSectionItemView::onSingleClick(const QPointF& p, bool wasMultiple)
{
    if (m_actualTextRect.contains(p)) {
        if (KPCollectionView* grid = collectionView(); wasMultiple || (grid && grid->selectedIndexs().size() > 1))
            return;
        openEditor(true);
    } else if (m_actualTagRect.contains(p)) {
        openTagPopover();
    }
}

void KPSectionItemView::onDoubleClick()
{
    if (!m_itemData || !services().workspace)
        return;
    documentopening::openDocuments(*services().workspace, {m_itemData->filePath()}, this);
}

// ---------------------------------------------------------------------------------------------
// Rating

void KPSectionItemView::setRateFromPoint(const QPointF& p)
{
    m_itemData->setRate(itemgeometry::ratingByPoint(p.x(), m_actualRateRect));
    update();
}

void KPSectionItemView::finishRating(const QPointF& p)
{
    setRateFromPoint(p);
    DBFileInfo record = m_itemData->data();
    DBFileInfoMetadata meta = record.metadata();
    if (meta && !record.isDeleted() && meta.rate() != m_itemData->rate()) {
        meta.setRate(int(m_itemData->rate()));
        services().library->save();
    }
    update();
}

// ---------------------------------------------------------------------------------------------
// Flag

void KPSectionItemView::openFlagPopover(const QRectF& anchorUp)
{
    if (!canEditMetadata() || m_flagPopover)
        return;
    auto* container = new QWidget();
    container->resize(KPFlagPickerView::maxWidth() + 12, 160 + 12);
    auto* picker = new KPFlagPickerView(QPointF(6, 6), container);
    picker->showLayerByLabelIndex(0);
    auto* popover = new platform::kit::Popover(platform::kit::Popover::Form::Popup, this);
    popover->setContentWidget(container);
    popover->setContentSize(container->size());
    m_flagPopover = popover;
    m_flagPicker = picker;
    picker->setAnswer([this, popover](std::optional<qint64> flag) {
        if (flag)
            onFlagChange(*flag);
        if (m_flagPopover == popover)
            m_flagPopover = nullptr;
        popover->close();
        popover->deleteLater();
    });
    connect(popover, &platform::kit::Popover::closed, picker, [picker] { picker->answerNone(); });
    popover->show(this, platform::kit::toQt(anchorUp, height()).toAlignedRect(), platform::kit::PopoverEdge::MaxX);
    picker->setFocus();
}

void KPSectionItemView::onFlagChange(qint64 label)
{
    if (!canEditMetadata())
        return;
    m_itemData->setLabel(label);
    DBFileInfo record = m_itemData->data();
    DBFileInfoMetadata meta = record.metadata();
    if (meta && !record.isDeleted() && meta.label() != label) {
        meta.setLabel(int(label));
        services().library->save();
    }
    update();
}

// ---------------------------------------------------------------------------------------------
// Title

void KPSectionItemView::rename()
{
    openEditor(false);
}

void KPSectionItemView::openEditor(bool fromClick, const std::optional<QString>& text)
{
    if (!m_itemData || m_editor)
        return;
    auto* editor = new TitleEditor(this);
    editor->setFrame(false);
    editor->setFont(platform::kit::FontResolver::fontNamed(QStringLiteral("LucidaGrande"), 11)
                        .value_or(platform::kit::FontResolver::systemFont(11)));
    if (isIconMode())
        editor->setAlignment(Qt::AlignHCenter);
    QRectF r = m_actualTextRect;
    if (fromClick)
        r.setHeight(r.height() + 2);
    QRect at = platform::kit::toQt(r, height()).toAlignedRect();
    if (text) {
        // Text handed back may be longer than the title the field was sized for: it is shown
        // whole where the view has room, its start in sight, since that is where a refused
        // name's fault usually lies (a leading dot).
        const int needed = editor->fontMetrics().horizontalAdvance(*text) + 8;
        if (needed > at.width()) {
            const int room = isIconMode() ? width() - 4 : width() - 2 - at.x();
            const int w = std::max(at.width(), std::min(needed, room));
            const int x = isIconMode() ? std::clamp(at.center().x() - w / 2, 2, std::max(2, width() - 2 - w)) : at.x();
            at = QRect(x, at.y(), w, at.height());
        }
    }
    editor->setGeometry(at);
    editor->setText(text.value_or(m_itemData->title()));
    editor->selectAll();
    if (text)
        editor->setSelection(int(text->size()), -int(text->size()));
    m_isCancelTitleEditing = false;
    m_refusedTitle = text.value_or(QString());
    editor->onKey = [this](bool cancelled) {
        m_isCancelTitleEditing = cancelled;
        endEditing();
    };
    editor->onFocusOut = [this] {
        if (m_editor && !m_refusedTitle.isNull() && m_editor->text() == m_refusedTitle)
            m_isCancelTitleEditing = true;
        endEditing();
    };
    m_editor = editor;
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    update();
}

void KPSectionItemView::endEditing()
{
    if (!m_editor)
        return;
    const QString text = m_editor->text();
    const bool cancelled = m_isCancelTitleEditing;
    removeEditTextField();
    if (KPCollectionView* grid = collectionView())
        grid->setFocus(Qt::OtherFocusReason);
    if (!cancelled)
        commitTitle(text);
}

void KPSectionItemView::removeEditTextField()
{
    if (!m_editor)
        return;
    QPointer<QLineEdit> editor = m_editor;
    m_editor = nullptr;
    static_cast<TitleEditor*>(editor.data())->onFocusOut = nullptr;
    editor->hide();
    editor->deleteLater();
    update();
}

void KPSectionItemView::commitTitle(const QString& text)
{
    if (!m_itemData)
        return;
    const QString title = text.trimmed();
    if (title.isEmpty() || title == m_itemData->title()) {
        update();
        return;
    }
    if (m_isSafeBoxItem) {
        renameFile(title, true);
        return;
    }
    DBFileInfo record = m_itemData->data();
    if (!record || record.isDeleted() || !services().library)
        return;
    if (record.isIndex()) {
        renameFile(title, false);
        return;
    }
    // A library document keeps its file name: only the titles change.
    m_itemData->setTitle(title);
    record.setTitle(title);
    services().library->save();
    update();
}

void KPSectionItemView::renameFile(const QString& title, bool isSafeBox)
{
    const QString path = m_itemData->filePath();
    DBFileInfo record = m_itemData->data();
    const QString ext = isSafeBox ? QFileInfo(path).suffix() : record.pathExtension();
    const QString name = ext.isEmpty() ? title : title + QLatin1Char('.') + ext;
    if (!platform::FileManager::isUsableFileName(name)) {
        refuseTitle(QStringLiteral("The name \"%@\" cannot be used as a file name."), title,
                    KPLibraryFileManager::unusableNameReason(name));
        return;
    }
    const QString target = QFileInfo(path).path() + QLatin1Char('/') + name;
    if (target != path) {
        const KPLibraryFileManager& files = services().files ? *services().files : KPLibraryFileManager::defaultManager();
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
            refuseTitle(QStringLiteral("The name \"%@\" is already taken. Plase choose a different name."), title, {});
            return;
        }
        if (!files.renameNameByFile(path, name)) {
            update();
            return;
        }
    }
    m_itemData->setTitle(title);
    m_itemData->setFilePath(target);
    if (!isSafeBox) {
        record.setTitle(title);
        record.setPath(target);
        services().library->save();
    }
    update();
}

void KPSectionItemView::refuseTitle(const QString& key, const QString& title, const QString& reason)
{
    update();
    QPointer<KPSectionItemView> self(this);
    std::weak_ptr<KPItemData> item = m_itemData;
    showAlert(this, key, title, reason, [self, item, title](int) {
        // The view may show another document by now, or be gone with its row.
        if (self && self->m_itemData && self->m_itemData == item.lock())
            self->openEditor(false, title);
    });
}

// ---------------------------------------------------------------------------------------------
// Tags

namespace {
// The tag popovers open now; main thread only.
QList<QPointer<platform::kit::Popover>>& openTagPopovers()
{
    static QList<QPointer<platform::kit::Popover>> popovers;
    popovers.removeAll(nullptr);
    return popovers;
}
} // namespace

bool KPSectionItemView::isTagPopoverOpen()
{
    const auto& popovers = openTagPopovers();
    return std::any_of(popovers.begin(), popovers.end(), [](const auto& p) { return p && p->isShown(); });
}

void KPSectionItemView::openTagPopover()
{
    if (!canEditMetadata() || m_tagPopover || !services().tagEditor)
        return;
    QPointer<KPSectionItemView> self(this);
    TagEditorCallbacks callbacks;
    callbacks.valueChange = [self](const QStringList& names) {
        if (self)
            self->tagsEdited(names);
    };
    callbacks.done = [self] {
        if (self)
            self->removeTagEditorPopver();
    };
    auto* popover = new platform::kit::Popover(platform::kit::Popover::Form::Overlay, this);
    popover->setContentWidget(services().tagEditor(m_itemData->tagObjects(), std::move(callbacks)));
    popover->setContentSize(QSize(220, 160));
    connect(popover, &platform::kit::Popover::closed, this, [this, popover] {
        if (m_tagPopover == popover)
            removeTagEditorPopver();
    });
    m_tagPopover = popover;
    openTagPopovers().append(popover);
    m_resignObserver = platform::NotificationCenter::defaultCenter().addObserver(
        kMonitorResign, [self](const platform::Notification&) {
            if (self)
                self->removeTagEditorPopver();
        });
    popover->show(this, platform::kit::toQt(m_actualTagRect, height()).toAlignedRect(), platform::kit::PopoverEdge::MinY);
}

void KPSectionItemView::removeTagEditorPopver()
{
    m_resignObserver = platform::ObserverToken();
    if (!m_tagPopover)
        return;
    QPointer<platform::kit::Popover> popover = m_tagPopover;
    m_tagPopover = nullptr;
    openTagPopovers().removeAll(popover);
    popover->close();
    popover->deleteLater();
}

void KPSectionItemView::tagsEdited(const QStringList& names)
{
    DBFileInfo record = m_itemData ? m_itemData->data() : DBFileInfo();
    // The document went away while its popover was open: nothing is written to it.
    if (!record || record.isDeleted() || !record.managedObjectContext() || !services().library) {
        removeTagEditorPopver();
        return;
    }
    QList<DBTag> newTags;
    if (updateTagObjectToFileInfo(names, record, *services().library, &newTags)) {
        m_itemData->reloadTagFromDBFileInfo();
        update();
    }
    auto& center = platform::NotificationCenter::defaultCenter();
    if (!newTags.isEmpty()) {
        QVariantList objects;
        for (const DBTag& tag : newTags)
            objects.append(tag.ref());
        center.post(KPImportKeys::NewTagNotification, objects);
    }
    center.post(kRefreshItemCount, QStringLiteral("Tags"));
}

bool KPSectionItemView::updateTagObjectToFileInfo(const QStringList& typed, DBFileInfo record, DataBaseEngine& library,
                                                  QList<DBTag>* newTags)
{
    QStringList names;
    for (const QString& name : typed) {
        if (!name.trimmed().isEmpty())
            names.append(name.trimmed());
    }
    const platform::ContextPtr context = record.managedObjectContext();
    bool changed = false;
    const QList<DBTag> kept = record.tags();
    if (!names.isEmpty()) {
        QStringList current;
        for (const DBTag& tag : kept)
            current.append(tag.name());
        std::sort(current.begin(), current.end());
        if (names != current) {
            record.setTags({});
            for (const QString& name : names) {
                DBTag match;
                for (const DBTag& tag : kept) {
                    if (!tag.isTrash() && platform::equalsFolded(tag.name(), name, platform::FoldOptions::CaseAndDiacriticInsensitive)) {
                        match = tag;
                        break;
                    }
                }
                if (!match)
                    match = library.tagNamed(name, context);
                if (!match) {
                    match = library.createTagByContext(name, context);
                    if (newTags)
                        newTags->append(match);
                }
                record.addTagsObject(match);
            }
            changed = true;
        }
    } else if (!kept.isEmpty()) {
        record.setTags({});
        changed = true;
    }
    if (changed) {
        library.save();
        DBHelper::writeMetaDataInfoByTags(record);
    }
    return changed;
}

// ---------------------------------------------------------------------------------------------
// Drops of tags

void KPSectionItemView::dragEnterEvent(QDragEnterEvent* event)
{
    if (!canEditMetadata() || !event->mimeData() || !event->mimeData()->hasFormat(platform::kit::pasteboard::kDragDropTagNode)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    m_isDragDroping = true;
    update();
}

void KPSectionItemView::dragLeaveEvent(QDragLeaveEvent*)
{
    m_isDragDroping = false;
    update();
}

QList<KPItemDataPtr> KPSectionItemView::dropTargets() const
{
    KPCollectionView* grid = collectionView();
    if (!selected() || !grid || grid->selectedIndexs().isEmpty())
        return {m_itemData};
    QList<KPItemDataPtr> items;
    for (const KPSectionIndexSet& index : grid->selectedIndexs()) {
        if (auto object = grid->itemDataAtIndexSet(index)) {
            if (KPItemDataPtr item = object->itemData(); item && !item->isSafeBoxItem())
                items.append(item);
        }
    }
    return items;
}

void KPSectionItemView::dropEvent(QDropEvent* event)
{
    m_isDragDroping = false;
    update();
    if (!canEditMetadata() || !event->mimeData()) {
        event->ignore();
        return;
    }
    DataBaseEngine& library = *services().library;
    QList<DBTag> tags;
    for (const QString& uri : platform::kit::pasteboard::readTagNodeURIs(*event->mimeData())) {
        const platform::ObjectID id = library.coordinator() ? library.coordinator()->managedObjectIDForURIRepresentation(uri)
                                                            : platform::ObjectID();
        if (id.isNull())
            continue;
        DBTag tag(library.context()->existingObjectWithID(id));
        if (tag && !tag.isTrash() && !tag.isDeleted())
            tags.append(tag);
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (tags.isEmpty())
        return;
    KPCollectionView* grid = collectionView();
    for (const KPItemDataPtr& item : dropTargets()) {
        DBFileInfo record = item->data();
        if (!record || record.isDeleted())
            continue;
        for (const DBTag& tag : tags)
            record.addTagsObject(tag);
        item->reloadTagFromDBFileInfo();
        DBHelper::writeMetaDataInfoByTags(record);
        if (grid) {
            for (KPCollectionItemView* view : grid->visibleItemViews()) {
                if (auto* itemView = dynamic_cast<KPSectionItemView*>(view); itemView && itemView->itemData() == item)
                    itemView->update();
            }
        }
    }
    update();
    library.save();
    platform::NotificationCenter::defaultCenter().post(kRefreshItemCount, QStringLiteral("Tags"));
}

// ---------------------------------------------------------------------------------------------
// Drags out

platform::kit::pasteboard::GridDragPayload KPSectionItemView::dragPayload() const
{
    QList<KPItemDataPtr> items;
    KPCollectionView* grid = collectionView();
    if (grid && grid->selectedIndexs().size() >= 2) {
        for (const KPSectionIndexSet& index : grid->selectedIndexs()) {
            if (auto object = grid->itemDataAtIndexSet(index); object && object->itemData())
                items.append(object->itemData());
        }
    } else if (m_itemData) {
        items.append(m_itemData);
    }
    const bool withURIs = m_viewSizeManager.itemViewType() != KPItemViewTypeSafeBox &&
                          std::none_of(items.begin(), items.end(), [](const KPItemDataPtr& i) { return i->isSafeBoxItem(); });
    platform::kit::pasteboard::GridDragPayload payload;
    for (const KPItemDataPtr& item : items) {
        payload.filePaths.append(item->filePath());
        if (withURIs)
            payload.fileInfoURIs.append(item->data().URIString());
    }
    return payload;
}

QImage KPSectionItemView::dragImage(qsizetype count) const
{
    const QSizeF size = m_actualImageRect.size().isEmpty() ? QSizeF(40, 40) : m_actualImageRect.size();
    return Canvas::paintedImage(size, devicePixelRatioF(), [&](Canvas& canvas) {
        if (m_itemData && !m_itemData->sourceImage().isNull())
            canvas.drawImage(QRectF(QPointF(0, 0), size), m_itemData->sourceImage());
        if (count > 1) {
            platform::kit::TextAttributes attrs = platform::kit::TextAttributes::plain(platform::kit::FontResolver::systemFont(11));
            attrs.color = QColor(Qt::white);
            attrs.hasParagraphStyle = true;
            attrs.alignment = 2;
            attrs.lineBreakMode = 4;
            attrs.shadow = platform::kit::TextShadow{QColor(Qt::black), QSizeF(0, -1), 1.0};
            const QString text = count > 999 ? QStringLiteral("999+") : QString::number(count);
            const double w = std::max(16.0, std::ceil(platform::kit::textSize(text, attrs).width()) + 6);
            const QRectF badge(size.width() - w - 4, size.height() - 20, w, 16);
            canvas.fillPath(Canvas::roundRectPath(badge, 3), QColor(Qt::red));
            const double textH = platform::kit::textSize(text, attrs).height();
            canvas.drawText(QRectF(badge.x(), badge.y() + (16 - textH) / 2, badge.width(), textH), text, attrs);
        }
    });
}

bool KPSectionItemView::traceMouseDraggedEvent(const QPointF& p)
{
    const QPointF q = m_firstMouseDownPoint;
    if (isIconMode()) {
        if (!m_actualImageRect.contains(q))
            return false;
        const double t = kIconDragThreshold;
        if (QRectF(q.x() - t, q.y() - t, 2 * t, 2 * t).contains(p))
            return true;
        if (!m_itemData->bLoadedResource() || m_itemData->sourceImage().isNull())
            return false;
    } else {
        const double t = kListDragThreshold;
        if (QRectF(q.x() - t, q.y() - t, 2 * t, 2 * t).contains(p))
            return true;
    }
    startDrag();
    return false;
}

void KPSectionItemView::startDrag()
{
    m_dragStarted = true;
    hideToolBar(false);
    const auto payload = dragPayload();
    if (payload.filePaths.isEmpty())
        return;
    QImage image;
    QRectF placedUp;
    if (isIconMode()) {
        image = dragImage(payload.filePaths.size());
        placedUp = m_actualImageRect;
    } else {
        image = grab().toImage();
        placedUp = boundsUp();
    }
    auto mime = platform::kit::pasteboard::gridDragMimeData(payload);
    if (services().runDrag) {
        services().runDrag(this, std::move(mime), image);
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(mime.release());
    drag->setPixmap(QPixmap::fromImage(image));
    const QRectF placed = platform::kit::toQt(placedUp, height());
    drag->setHotSpot((platform::kit::toQt(m_firstMouseDownPoint, height()) - placed.topLeft()).toPoint());
    drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
}
