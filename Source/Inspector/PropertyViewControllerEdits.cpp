// The inspector's own writes: tags, authors, the description and the file dates, the sizing of
// the growing rows, and the completion list of the two token fields.
#include "Inspector/PropertyViewController.h"

#include "Browser/CollectionView/KPCollectionItemView.h"
#include "Browser/CollectionView/KPCollectionView.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Controls/KPDateTextFiledExtend.h"
#include "Controls/KPTextEditorView.h"
#include "Controls/KPTokenEditorView.h"
#include "Inspector/AutoCompletedViewController.h"
#include "Inspector/AutoCompletedWindow.h"
#include "Platform/Kit/CompletionListHolder.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBAuthor.h"
#include "Store/DBFileInfo.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBHelper.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"

#include <QTextDocument>
#include <algorithm>
#include <optional>

namespace {

constexpr int kFieldHeight = 23;

QStringList sortedNames(QStringList names)
{
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a.compare(b) < 0; });
    return names;
}

// Names as the user means them: blank ones are no names.
QStringList usableNames(const QStringList& names)
{
    QStringList out;
    for (const QString& name : names)
        if (!name.trimmed().isEmpty() && !out.contains(name))
            out.append(name);
    return out;
}

// The names to store, or nothing when they would change nothing the record holds.
std::optional<QStringList> changedNames(const QStringList& rawNames, const QStringList& current)
{
    const QStringList names = usableNames(rawNames);
    if (names.isEmpty() && current.isEmpty())
        return std::nullopt;
    if (!names.isEmpty() && sortedNames(current) == names)
        return std::nullopt;
    return names;
}

// The tags of names, each once, made where the library has none yet; the references of the
// made ones go to created. A name that cannot be made is left out.
template <class Names>
QList<DBTag> tagsNamed(DataBaseEngine& store, const Names& names, QVariantList& created)
{
    QList<DBTag> tags;
    for (const QString& name : names) {
        // Exact name ignoring case and accents: "c*" is a name, not a pattern.
        DBTag tag = store.tagNamed(name);
        if (!tag) {
            tag = store.createTagByContext(name);
            if (!tag)
                continue;
            created.append(tag.ref());
        }
        if (!tags.contains(tag))
            tags.append(tag);
    }
    return tags;
}

} // namespace

// ---- tags ----

bool PropertyViewController::updateTagObjectToFileInfo(const QStringList& rawNames, DBFileInfo& record)
{
    if (!record)
        return false;
    QStringList current;
    for (const DBTag& tag : record.tags())
        current.append(tag.name());
    const std::optional<QStringList> changed = changedNames(rawNames, current);
    if (!changed)
        return false;
    DataBaseEngine& store = engine();
    QVariantList created;
    record.setTags(tagsNamed(store, *changed, created));
    store.save();
    DBHelper::writeMetaDataInfoByTags(record);
    if (!created.isEmpty())
        notifications().post(kNewTagNotification, created);
    return true;
}

void PropertyViewController::editMultiTags(const QStringList& rawNames)
{
    const QStringList names = usableNames(rawNames);
    const QSet<QString> now(names.begin(), names.end());
    const QSet<QString> removedNames = QSet<QString>(m_sourceMutileValues).subtract(now);
    const QSet<QString> addedNames = QSet<QString>(now).subtract(m_sourceMutileValues);
    if (removedNames.isEmpty() && addedNames.isEmpty())
        return;
    m_sourceMutileValues = now;
    DataBaseEngine& store = engine();
    QList<DBTag> removed;
    for (const QString& name : removedNames)
        if (DBTag tag = store.tagNamed(name))
            removed.append(tag);
    QVariantList created;
    const QList<DBTag> added = tagsNamed(store, addedNames, created);
    for (const KPItemDataPtr& item : std::as_const(m_cacheDatas)) {
        DBFileInfo record = item->data();
        if (!record || record.isDeleted())
            continue;
        for (DBTag tag : std::as_const(removed))
            tag.removeFileInfosObject(record);
        for (DBTag tag : std::as_const(added))
            tag.addFileInfosObject(record);
        if (item->bLoadedDataContent())
            item->reloadTagFromDBFileInfo();
        else
            item->loadDataContent();
        DBHelper::writeMetaDataInfoByTags(record);
    }
    store.save();
    if (!created.isEmpty())
        notifications().post(kNewTagNotification, created);
    notifications().post(kRefreshItemCountNotification, QStringLiteral("Tags"));
    redrawSelectedItems(false);
}

// ---- authors ----

bool PropertyViewController::updateAuthorsObjectToFileInfo(const QStringList& rawNames, DBFileInfo& record)
{
    if (!record)
        return false;
    QStringList current;
    for (const DBAuthor& author : record.authors())
        current.append(author.name());
    const std::optional<QStringList> changed = changedNames(rawNames, current);
    if (!changed)
        return false;
    const QStringList& names = *changed;
    DataBaseEngine& store = engine();
    QList<DBAuthor> authors;
    for (const QString& name : names) {
        // One document: an author in the trash comes back rather than being made twice.
        DBAuthor author = store.authorNamed(name);
        if (!author)
            author = store.createAuthorByContext(name);
        if (author && !authors.contains(author))
            authors.append(author);
    }
    record.setAuthors(authors);
    store.save();
    return true;
}

void PropertyViewController::editMultiAuthors(const QStringList& rawNames)
{
    const QStringList names = usableNames(rawNames);
    const QSet<QString> now(names.begin(), names.end());
    const QSet<QString> shown(m_sourceAuthors.begin(), m_sourceAuthors.end());
    const QSet<QString> removedNames = QSet<QString>(shown).subtract(now);
    const QSet<QString> addedNames = QSet<QString>(now).subtract(shown);
    if (removedNames.isEmpty() && addedNames.isEmpty())
        return;
    m_sourceAuthors = names;
    DataBaseEngine& store = engine();
    const auto liveAuthor = [&](const QString& name) -> DBAuthor {
        auto predicate = platform::Predicate::format(QStringLiteral("isTrash == NO && name ==[cd] %@"), {name});
        if (!predicate)
            return {};
        auto found = store.queryRecordByName(QStringLiteral("DBAuthor"), *predicate);
        return found && !found->isEmpty() ? DBAuthor(found->last()) : DBAuthor();
    };
    QList<DBAuthor> added;
    for (const QString& name : addedNames) {
        DBAuthor author = liveAuthor(name);
        if (!author)
            author = store.createAuthorByContext(name);
        if (author)
            added.append(author);
    }
    for (const KPItemDataPtr& item : std::as_const(m_cacheDatas)) {
        DBFileInfo record = item->data();
        if (!record || record.isDeleted())
            continue;
        // Only what the field showed is compared: authors that only some documents carry stay.
        for (const DBAuthor& author : record.authors())
            for (const QString& name : removedNames)
                if (QString::compare(author.name(), name, Qt::CaseInsensitive) == 0)
                    record.removeAuthorsObject(author);
        for (const DBAuthor& author : std::as_const(added))
            record.addAuthorsObject(author);
        item->loadDataContent();
    }
    store.save();
}

void PropertyViewController::onTokenEditorViewTextDidChange(KPTokenEditorView* field)
{
    updateUISizeByControl(field);
    if (m_cacheDatas.isEmpty() || m_viewType == kSafeBoxViewType)
        return;
    const QStringList names = field->tokenValues();
    if (field == m_tagViewValue) {
        if (m_cacheDatas.size() < 2) {
            const KPItemDataPtr item = m_cacheDatas.last();
            DBFileInfo record = item->data();
            if (updateTagObjectToFileInfo(names, record)) {
                item->reloadTagFromDBFileInfo();
                redrawSelectedItems(true);
            }
        } else {
            editMultiTags(names);
        }
    } else if (field == m_authorViewValue) {
        if (m_cacheDatas.size() < 2) {
            const KPItemDataPtr item = m_cacheDatas.first();
            DBFileInfo record = item->data();
            if (updateAuthorsObjectToFileInfo(names, record))
                item->loadDataContent();
        } else {
            editMultiAuthors(names);
        }
    }
}

void PropertyViewController::redrawSelectedItems(bool lastOnly)
{
    if (!m_collectionView)
        return;
    const auto& selected = m_collectionView->selectedIndexs();
    if (selected.isEmpty())
        return;
    if (lastOnly) {
        if (auto* view = m_collectionView->itemViewWithIndexSet(selected.last()))
            view->update();
        return;
    }
    for (const KPSectionIndexSet& index : selected)
        if (auto* view = m_collectionView->itemViewWithIndexSet(index))
            view->update();
}

// ---- description ----

void PropertyViewController::onTextEditorViewTextDidDone()
{
    if (m_cacheDatas.isEmpty() || m_viewType == kSafeBoxViewType)
        return;
    QTextDocument* document = m_descriptionViewValue->textView()->document();
    // Entering and leaving the field over differing descriptions must not wipe them.
    if (m_cacheDatas.size() > 1 && !document->isModified())
        return;
    const QString text = m_descriptionViewValue->stringValue().trimmed();
    bool changed = false;
    for (const KPItemDataPtr& item : std::as_const(m_cacheDatas)) {
        const DBFileInfo& record = item->data();
        DBFileInfoMetadata meta = record ? record.metadata() : DBFileInfoMetadata();
        if (!meta || meta.comment() == text)
            continue;
        meta.setComment(text);
        changed = true;
    }
    document->setModified(false);
    if (changed)
        engine().save();
}

// ---- file dates ----

void PropertyViewController::onDateTextFiledExtendChange(const QVariantMap& info)
{
    auto* field = dynamic_cast<KPDateTextFiledExtend*>(info.value(QStringLiteral("Self")).value<QObject*>());
    if (field != m_labDateCreateValue && field != m_labDateModifiedValue)
        return;
    editDate(field, info);
}

void PropertyViewController::editDate(KPDateTextFiledExtend* field, const QVariantMap& info)
{
    if (m_cacheDatas.size() != 1 || m_viewType == kSafeBoxViewType)
        return;
    const DBFileInfo& record = m_cacheDatas.first()->data();
    DBFileInfoMetadata meta = record ? record.metadata() : DBFileInfoMetadata();
    if (!meta)
        return;
    const bool created = field == m_labDateCreateValue;
    const QDateTime stored = created ? meta.dateCreated() : meta.dateModified();
    const QDateTime picked = info.value(QStringLiteral("DateValue")).toDateTime();
    const bool confirmed = info.value(QStringLiteral("IsChange")).toBool();
    // The picker shows minutes: a date re-picked unchanged keeps its stored seconds.
    const bool same = !picked.isValid() || picked.toSecsSinceEpoch() / 60 == stored.toSecsSinceEpoch() / 60;
    if (confirmed && !same && (!created || m_services.canSetCreationDate)) {
        const QString path = DBHelper::CombinFileAbsolutePath(record);
        const bool written = created ? m_services.setFileCreationDate(picked, path)
                                     : m_services.setFileModificationDate(picked, path);
        if (written) {
            if (created)
                meta.setDateCreated(picked.toUTC());
            else
                meta.setDateModified(picked.toUTC());
            engine().save();
        }
    }
    // The field shows what is stored, written or not.
    field->setDate(created ? meta.dateCreated() : meta.dateModified());
    if (!created)
        refreshModifiedDay(meta.dateModified());
}

// ---- row sizing ----

void PropertyViewController::updateUISizeByControl(QWidget* control)
{
    KPCoustomDrawBGView* row = nullptr;
    QWidget* placed = control;
    QSizeF size;
    bool empty = false;
    if (control == m_authorViewValue || control == m_tagViewValue) {
        auto* field = static_cast<KPTokenEditorView*>(control);
        row = m_rows.value(control == m_tagViewValue ? Tag : Author);
        size = field->textSize();
        empty = field->isEmpty();
    } else if (control == m_descriptionViewValue->textView()) {
        row = m_rows.value(Description);
        placed = m_descriptionViewValue;
        size = m_descriptionViewValue->textSize();
        empty = m_descriptionViewValue->stringValue().isEmpty();
    } else {
        return;
    }
    const int h = (size.height() <= kFieldHeight || empty) ? kFieldHeight : int(std::ceil(size.height()));
    const int rowHeight = std::max(30, h + 7);
    row->resize(kWidth, rowHeight);
    // (41, 2) y-up: the field's bottom two points above the row's.
    placed->setGeometry(41, rowHeight - 2 - h, 219, h);
    layoutViews();
}

// ---- completion ----

AutoCompletedWindow* PropertyViewController::autoCompletedWindow() const
{
    return m_autoWindow.data();
}

void PropertyViewController::closeCompletion()
{
    if (!m_autoWindow)
        return;
    if (auto* holder = platform::kit::CompletionListHolder::application();
        holder && holder->autoCompletedWindow() == m_autoWindow.data())
        holder->setAutoCompletedWindow(nullptr);
    m_autoWindow->hide();
    m_autoWindow->deleteLater();
    m_autoWindow = nullptr;
}

std::optional<QString> PropertyViewController::onPartValueChange(KPTokenEditorView* field,
                                                                 const std::optional<QString>& text)
{
    if (!text) {
        closeCompletion();
        return std::nullopt;
    }
    const bool tags = field == m_tagViewValue;
    std::unique_ptr<AutoCompletedViewController>& list = tags ? m_tagAutoCompletedVC : m_authorAutoCompletedVC;
    if (!list) {
        list.reset(tags ? AutoCompletedViewController::initWithTagModel(m_services.engine)
                        : AutoCompletedViewController::initWithAuthorModel(m_services.engine));
        list->setDelegate({[field](const QString& name, AutoCompletedViewController*) {
            field->updateCurrentPartValue(name);
        }});
    }
    const std::optional<QString> first = list->doSearchValue(*text);
    if (!first || first->isEmpty()) {
        closeCompletion();
        return std::nullopt;
    }
    // One frame serves both lists: a frame holding the other list goes first.
    if (m_autoWindow && m_autoWindow->property("tags").toBool() != tags)
        closeCompletion();
    if (!m_autoWindow) {
        m_autoWindow = new AutoCompletedWindow(list.get());
        m_autoWindow->setProperty("tags", tags);
    }
    m_autoWindow->showAtCaret(field, field->selectRangeLocation());
    if (auto* holder = platform::kit::CompletionListHolder::application())
        holder->setAutoCompletedWindow(m_autoWindow);
    return first;
}
