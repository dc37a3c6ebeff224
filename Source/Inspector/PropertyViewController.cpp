#include "Inspector/PropertyViewController.h"

#include "Browser/KPSortFunctions.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Controls/KPCoustomStyleLabel.h"
#include "Controls/KPDBFolderEditor.h"
#include "Controls/KPDatePicker.h"
#include "Controls/KPDateTextFiledExtend.h"
#include "Controls/KPRatingView.h"
#include "Controls/KPTextEditorView.h"
#include "Controls/KPThemeImageButton.h"
#include "Controls/KPTokenAttachmentCell.h"
#include "Controls/KPTokenEditorView.h"
#include "Controls/KPWrapStyleLabel.h"
#include "Import/KPFileFormatManager.h"
#include "Inspector/AutoCompletedViewController.h"
#include "Inspector/AutoCompletedWindow.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/Flip.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Workspace/Workspace.h"
#include "Store/DBFileInfo.h"
#include "Store/DBFileInfoMetadata.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"
#include "Theme/KPColor.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPHorizontalSprite.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPTextStyle.h"
#include "Theme/KPThemeManager.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FlagNames.h"
#include "Utilities/GlobalFun.h"

#include <QFontMetricsF>
#include <QAbstractTextDocumentLayout>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

using platform::kit::Canvas;
using platform::kit::TextAttributes;
using platform::kit::TextShadow;

namespace {

const QString kGroup = QStringLiteral("PropertyView");
constexpr int kRowHeight = 30;
constexpr int kContentTopHeight = 140;

KPCustomThemeObject* group()
{
    return KPThemeObject::customThemeObjectWithName(kGroup);
}

template <class T>
T* themed(const QString& name)
{
    KPCustomThemeObject* g = group();
    return g ? g->themeObjectWithName<T>(name) : nullptr;
}

TextShadow lightShadow()
{
    return TextShadow{QColor(240, 240, 240), QSizeF(0, -1), std::nullopt};
}

TextAttributes captionStyle()
{
    TextAttributes a;
    a.font = platform::kit::FontResolver::boldSystemFont(11);
    a.color = QColor(126, 134, 144);
    a.hasParagraphStyle = true;
    a.alignment = 1;
    a.lineBreakMode = 2;
    a.shadow = lightShadow();
    return a;
}

TextAttributes valueStyle()
{
    TextAttributes a;
    a.font = platform::kit::FontResolver::systemFont(12);
    a.color = QColor(73, 83, 95);
    a.hasParagraphStyle = true;
    a.alignment = 0;
    a.lineBreakMode = 4;
    a.shadow = lightShadow();
    return a;
}

TextAttributes placeholderStyle()
{
    TextAttributes a;
    QFont font = platform::kit::FontResolver::fontNamed(QStringLiteral("Helvetica"), 12)
                     .value_or(platform::kit::FontResolver::systemFont(12));
    font.setItalic(true);
    a.font = font;
    a.color = QColor(184, 184, 184);
    a.hasParagraphStyle = true;
    a.lineBreakMode = 4;
    a.shadow = TextShadow{Qt::white, QSizeF(0, -1), std::nullopt};
    return a;
}

const QPointF kPlaceholderOff(8, 3);

// A control placed y-up inside a parent of the given height.
void place(QWidget* control, const QRectF& up, int parentHeight)
{
    control->setGeometry(platform::kit::toQt(up, parentHeight).toAlignedRect());
}

QString orDash(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("--") : text;
}

QString dayString(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    return KPDatePicker::displayLocale().toString(date.toLocalTime(), QStringLiteral("M/d/yyyy"));
}

QString dateTimeString(const std::optional<QDateTime>& date)
{
    return date && date->isValid() ? KPDateTextFiledExtend::formattedDate(*date) : QString();
}

class ResizeRelay : public QObject {
public:
    ResizeRelay(QObject* parent, std::function<void()> onResize) : QObject(parent), m_onResize(std::move(onResize)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            m_onResize();
        return false;
    }

private:
    std::function<void()> m_onResize;
};

} // namespace

PropertyViewController::PropertyViewController(Services services)
    : m_services(std::move(services))
{
    if (!m_services.setFileCreationDate)
        m_services.setFileCreationDate = [](const QDateTime& d, const QString& p) { return setFileCreationDate(d, p); };
    if (!m_services.setFileModificationDate)
        m_services.setFileModificationDate = [](const QDateTime& d, const QString& p) {
            return setFileModificationDate(d, p);
        };
    if (!m_services.selectInFileViewer)
        m_services.selectInFileViewer = [](const QString& path) { platform::Workspace::shared().selectFiles({path}); };
    KPThemeManager::themeManager()->addThemeObject(this);
    buildViews();
    // The application's event rules post to the default center.
    m_resignObserver = platform::NotificationCenter::defaultCenter().addObserver(kAutoCompletedWindowResign, [this](const platform::Notification& n) {
        if (m_autoWindow && n.object.value<QObject*>() == m_autoWindow.data())
            closeCompletion();
    });
}

PropertyViewController::~PropertyViewController()
{
    m_resignObserver = platform::ObserverToken();
    closeCompletion();
    if (m_autoWindow)
        delete m_autoWindow.data();
    delete m_view.data();
}

QWidget* PropertyViewController::view() const
{
    return m_view;
}

void PropertyViewController::editTitleAgain(const KPItemDataPtr& item, const QString& text)
{
    if (m_labFileName && item && m_cacheDatas.size() == 1 && m_cacheDatas.first() == item)
        m_labFileName->beginEditing(text);
}

DataBaseEngine& PropertyViewController::engine() const
{
    return m_services.engine ? *m_services.engine : *DataBaseEngine::dataBaseEngine();
}

platform::NotificationCenter& PropertyViewController::notifications() const
{
    return m_services.notifications ? *m_services.notifications : platform::NotificationCenter::defaultCenter();
}

QImage PropertyViewController::flagIcon(int flag)
{
    KPCustomThemeObject* flags = KPThemeObject::customThemeObjectWithName(QStringLiteral("Flag"));
    auto* sprite = flags ? flags->themeObjectWithName<KPSprite>(QString::number(flag)) : nullptr;
    if (!sprite || sprite->image().isNull())
        return {};
    const qreal dpr = sprite->image().devicePixelRatio();
    // The right half of the 32×20 sprite.
    return Canvas::paintedImage(QSizeF(16, 20), std::max<qreal>(dpr, 1), [&](Canvas& canvas) {
        canvas.drawImage(QRectF(-16, 0, 32, 20), sprite->image());
    });
}

void PropertyViewController::buildViews()
{
    auto* root = new KPCoustomDrawBGView(QRect(0, 0, kWidth, 600));
    m_view = root;
    root->setMinimumWidth(0);
    auto makeRow = [&](Row which, int height) {
        auto* row = new KPCoustomDrawBGView(QRect(0, 0, kWidth, height), root);
        row->setDrawBackgroudWithSelector([this](KPCoustomDrawBGView* v, QPainter& p, const QRectF&) { drawBackground(v, p); });
        m_rows.insert(which, row);
        return row;
    };
    root->setDrawBackgroudWithSelector([this](KPCoustomDrawBGView* v, QPainter& p, const QRectF&) { drawBackground(v, p); });

    // Title row.
    KPCoustomDrawBGView* fileNameView = makeRow(FileName, kRowHeight + 6);
    m_labFileName = new KPCoustomStyleLabel(QRect(), fileNameView);
    place(m_labFileName, QRectF(8, 3, 238, 30), fileNameView->height());
    TextAttributes titleStyle;
    titleStyle.font = platform::kit::FontResolver::boldSystemFont(12);
    titleStyle.color = QColor(48, 48, 48);
    titleStyle.hasParagraphStyle = true;
    titleStyle.lineBreakMode = 4;
    titleStyle.shadow = lightShadow();
    m_labFileName->setTextStyle(titleStyle);
    m_labFileName->setTextOff(QPointF(2, 0));
    m_labFileName->setBoolSupportEdit(true);
    KPCoustomStyleLabelDelegate titleDelegate;
    titleDelegate.onCoustomStyleShouldEdit = [this](KPCoustomStyleLabel*) { return m_cacheDatas.size() == 1; };
    titleDelegate.onCoustomStyleLableValueChange = [this](KPCoustomStyleLabel* label, const QString& value) {
        if (m_cacheDatas.size() != 1)
            return;
        const KPItemDataPtr item = m_cacheDatas.first();
        if (m_delegate.onTitleChange)
            m_delegate.onTitleChange(this, item, value);
        // What the owner stored: a refused rename keeps the old title.
        label->setTitle(item->title());
        label->setToolTip(item->title());
    };
    titleDelegate.onCoustomStyleLableMouseInDrawRectBG = [this](KPCoustomStyleLabel* label, QPainter& painter) {
        if (m_cacheDatas.size() != 1)
            return;
        auto* bg = themed<KPHorizontalSprite>(QStringLiteral("PropertyViewFileNameEditBG"));
        if (!bg)
            return;
        Canvas canvas(painter, label->height());
        const qreal y = std::round((label->height() - 25) / 2.0);
        const qreal w = label->width();
        auto draw = [&](KPSprite* part, const QRectF& at) {
            if (part && !part->image().isNull() && at.width() > 0)
                canvas.drawImage(at, part->image());
        };
        draw(bg->leftSprite(), QRectF(0, y, 10, 25));
        draw(bg->centerSprite(), QRectF(10, y, w - 20, 25));
        draw(bg->rightSprite(), QRectF(w - 10, y, 10, 25));
    };
    m_labFileName->setDelegate(titleDelegate);
    m_btnMore = new KPThemeImageButton(QRect(), fileNameView);
    place(m_btnMore, QRectF(250, 6, 24, 24), fileNameView->height());
    m_btnMore->setMultiSprite(themed<KPMultiSprite>(QStringLiteral("PropertyViewMoreButton")));
    m_btnMore->setIsHighlight(true);
    m_btnMore->setupAction([this](KPThemeImageButton*) { onBtnMoreClick(); });

    // Details box: captions and values, the two dates and From.
    KPCoustomDrawBGView* content = makeRow(FileNameContent, kContentTopHeight + 30);
    m_fileNameContentTopView = new KPCoustomDrawBGView(QRect(0, 0, kWidth, kContentTopHeight), content);
    // The separator lines between the caption rows, when the theme has one.
    m_fileNameContentTopView->setDrawBackgroudWithSelector([](KPCoustomDrawBGView* v, QPainter& p, const QRectF&) {
        auto* line = themed<KPSprite>(QStringLiteral("PropertyViewLine"));
        if (!line || line->image().isNull())
            return;
        Canvas canvas(p, v->height());
        for (int i = 1; i < 5; ++i)
            canvas.drawImage(QRectF(10, kContentTopHeight - 12 - 24 * i - 1, kWidth - 20, 1), line->image());
    });
    const QStringList captions{QStringLiteral("File Type"), QStringLiteral("Size"), QStringLiteral("Created"),
                               QStringLiteral("Modified"), QStringLiteral("Last Opened")};
    for (int i = 0; i < captions.size(); ++i) {
        auto* caption = new KPCoustomStyleLabel(QRect(), m_fileNameContentTopView);
        caption->setTextStyle(captionStyle());
        caption->setTitle(QStringLiteral("%1:").arg(platform::localizedString(captions[i])));
        place(caption, QRectF(4, kContentTopHeight - 12 - 24 * (i + 1), 92, 22), kContentTopHeight);
        const QRectF value(101, kContentTopHeight - 12 - 24 * (i + 1), 172, 22);
        if (i == 2 || i == 3) {
            auto* field = new KPDateTextFiledExtend(QRect(), m_fileNameContentTopView);
            place(field, value.adjusted(-4, 0, 0, 2), kContentTopHeight);
            field->setNilValueString(QStringLiteral("--"));
            field->setDate(QDateTime::currentDateTimeUtc());
            field->setDelegate({[this](const QVariantMap& info) { onDateTextFiledExtendChange(info); }});
            (i == 2 ? m_labDateCreateValue : m_labDateModifiedValue) = field;
            continue;
        }
        auto* label = new KPCoustomStyleLabel(QRect(), m_fileNameContentTopView);
        label->setTextStyle(valueStyle());
        label->setTitle(QStringLiteral("--"));
        place(label, value, kContentTopHeight);
        (i == 0 ? m_labFileTypeValue : i == 1 ? m_labSizeValue : m_labLastOpenValue) = label;
    }
    if (!m_services.canSetCreationDate)
        m_labDateCreateValue->setReadOnly(true, platform::localizedString(
            QStringLiteral("The file system keeps the creation date of a file; it cannot be changed here.")));
    m_labFrom = new KPCoustomStyleLabel(QRect(), content);
    m_labFrom->setTextStyle(captionStyle());
    m_labFrom->setTitle(QStringLiteral("%1:").arg(platform::localizedString(QStringLiteral("From"))));
    m_labFromValue = new KPWrapStyleLabel(QRect(), content);
    TextAttributes fromStyle = valueStyle();
    fromStyle.lineBreakMode = 0;
    m_labFromValue->setTextStyle(fromStyle);
    TextAttributes linkStyle = fromStyle;
    linkStyle.font.setUnderline(true);
    m_labFromValue->setLinkTextStyle(linkStyle);
    m_labFromValue->setIsLink(true);
    m_labFromValue->setupLinkAction([this](KPWrapStyleLabel*) { onLabFromClick(); });
    applyFromText(QString());

    // One-line rows.
    KPCoustomDrawBGView* folderRow = makeRow(FolderName, kRowHeight);
    m_folderNameViewValue = new KPDBFolderEditor(QRect(), folderRow);
    place(m_folderNameViewValue, QRectF(36, 3, 236, 23), kRowHeight);
    KPCoustomDrawBGView* modifiedRow = makeRow(Modified, kRowHeight);
    m_modifitedViewValue = new KPCoustomStyleLabel(QRect(), modifiedRow);
    TextAttributes dayStyle = valueStyle();
    dayStyle.color = QColor(90, 90, 90);
    m_modifitedViewValue->setTextStyle(dayStyle);
    m_modifitedViewValue->setTextOff(QPointF(4, 0));
    m_modifitedViewValue->setTitle(QStringLiteral("--"));
    place(m_modifitedViewValue, QRectF(36, 3, 236, 23), kRowHeight);
    KPCoustomDrawBGView* flagRow = makeRow(Flag, kRowHeight);
    m_flagViewValue = new KPDBFolderEditor(QRect(), flagRow);
    m_flagViewValue->setIconOffSet(QSizeF(0, -1));
    place(m_flagViewValue, QRectF(36, 3, 236, 23), kRowHeight);
    KPCoustomDrawBGView* ratingRow = makeRow(Rating, kRowHeight);
    m_ratingViewValue = new KPRatingView(QRect(), ratingRow);
    place(m_ratingViewValue, QRectF(41, 5, 82, 20), kRowHeight);
    for (KPDBFolderEditor* editor : {m_folderNameViewValue, m_flagViewValue})
        editor->setDelegate({[this](KPDBFolderEditor* e) { return folderEditorPopMenu(e); }});

    // Growing rows: authors, tags, description.
    auto makeTokenField = [&](Row which, const QString& placeholder, bool tags) {
        KPCoustomDrawBGView* row = makeRow(which, kRowHeight);
        auto* field = new KPTokenEditorView(QRect(41, 5, 219, 23), row);
        field->setTextFont(platform::kit::FontResolver::systemFont(14));
        field->setTextColor(QColor(90, 90, 90));
        field->setPlaceHolderString(platform::localizedString(placeholder));
        field->setPlaceHolderTextAttrible(placeholderStyle(), kPlaceholderOff);
        field->setPastesUnknownTokensAsText(false);
        field->setCommitsWhenLeft(true);
        // The row grows with the tokens, so the field never scrolls.
        field->textView()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        KPTokenEditorViewDelegate d;
        d.cellForString = [tags](KPTokenEditorView*, const QString& text) -> KPTokenCellPtr {
            if (tags)
                return std::make_shared<KPTokenTagAttachmentCell>(text);
            return std::make_shared<KPTokenAuthorAttachmentCell>(text);
        };
        d.attachmentType = [tags](KPTokenEditorView*, const QString& type) -> KPTokenCellPtr {
            if (tags && type == QLatin1String("KPTokenTagAttachmentCell"))
                return std::make_shared<KPTokenTagAttachmentCell>();
            if (!tags && type == QLatin1String("KPTokenAuthorAttachmentCell"))
                return std::make_shared<KPTokenAuthorAttachmentCell>();
            return nullptr;
        };
        d.textDidChange = [this](KPTokenEditorView* f) { onTokenEditorViewTextDidChange(f); };
        d.partValueChange = [this](KPTokenEditorView* f, const std::optional<QString>& t) { return onPartValueChange(f, t); };
        d.partKeyDown = [this, tags](KPTokenEditorView*, int key) -> std::optional<QString> {
            AutoCompletedViewController* list = tags ? m_tagAutoCompletedVC.get() : m_authorAutoCompletedVC.get();
            if (!m_autoWindow || !list)
                return std::nullopt;
            return list->doMoveRecordByKeyCode(key);
        };
        d.autoCompletedDone = [this](KPTokenEditorView*) { closeCompletion(); };
        field->setDelegate(std::move(d));
        return field;
    };
    m_authorViewValue = makeTokenField(Author, QStringLiteral("add an author..."), false);
    m_tagViewValue = makeTokenField(Tag, QStringLiteral("add a tag..."), true);
    KPCoustomDrawBGView* descriptionRow = makeRow(Description, kRowHeight);
    m_descriptionViewValue = new KPTextEditorView(QRect(41, 5, 219, 23), descriptionRow);
    m_descriptionViewValue->setTextFont(platform::kit::FontResolver::systemFont(13));
    m_descriptionViewValue->setTextColor(QColor(90, 90, 90));
    m_descriptionViewValue->setPlaceHolderString(platform::localizedString(QStringLiteral("add a description...")));
    m_descriptionViewValue->setPlaceHolderTextAttrible(placeholderStyle(), kPlaceholderOff);
    m_descriptionViewValue->setDelegate(
        {[this](QPlainTextEdit*) { updateUISizeByControl(m_descriptionViewValue->textView()); },
         [this](QPlainTextEdit*) { onTextEditorViewTextDidDone(); }});

    // No selection.
    m_labNoSelection = new KPCoustomStyleLabel(QRect(0, 0, 200, 24), root);
    TextAttributes center = valueStyle();
    center.font = platform::kit::FontResolver::systemFont(14);
    center.alignment = 2;
    m_labNoSelection->setTextStyle(center);
    m_labNoSelection->setTitle(platform::localizedString(QStringLiteral("No Selection")));
    auto* image = new QLabel(root);
    image->resize(72, 98);
    m_imgNoSelectionView = image;

    for (Row which : {FileName, FileNameContent, FolderName, Modified, Flag, Rating, Author, Tag, Description})
        m_views.append(m_rows.value(which));
    themeUpdateWithName(QString());
    // Re-stacked whenever the pane changes size.
    root->installEventFilter(new ResizeRelay(root, [this] { layoutViews(); }));
    showItemDatas({}, 0);
    layoutViews();
}

void PropertyViewController::themeUpdateWithName(const QString&)
{
    if (m_btnMore)
        m_btnMore->setMultiSprite(themed<KPMultiSprite>(QStringLiteral("PropertyViewMoreButton")));
    if (auto* style = themed<KPTextStyle>(QStringLiteral("PropertyCenterTextField")))
        m_labNoSelection->setTextStyle(style->textAttribute());
    if (auto* icon = themed<KPSprite>(QStringLiteral("NoSelectionIcon")); icon && !icon->image().isNull())
        static_cast<QLabel*>(m_imgNoSelectionView)->setPixmap(QPixmap::fromImage(icon->image()).scaled(
            QSize(72, 98) * icon->image().devicePixelRatio(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    if (m_cacheDatas.size() >= 1 && m_viewType != kSafeBoxViewType)
        setFlagValue(int(m_flagViewValue->property("flag").toInt()));
    if (m_view)
        m_view->update();
    for (KPCoustomDrawBGView* row : std::as_const(m_rows))
        row->update();
}

void PropertyViewController::showItemDatas(const QList<KPItemDataPtr>& items, int viewType)
{
    // A title being edited belongs to the document shown so far: it is given to that one now,
    // before the label stands for another (its focus-out would come later, too late to know).
    if (m_labFileName && m_labFileName->isEditing())
        m_labFileName->endEditing(true);
    closeCompletion();
    m_cacheDatas = items;
    m_viewType = viewType;
    const bool none = items.isEmpty();
    for (KPCoustomDrawBGView* row : std::as_const(m_rows))
        row->setVisible(!none && (row != m_rows.value(FileNameContent) || m_detailsOpen));
    m_labNoSelection->setVisible(none);
    m_imgNoSelectionView->setVisible(none);
    layoutViews();
}

QString PropertyViewController::sizeString(qint64 bytes)
{
    const double b = double(bytes);
    if (bytes >= 1073741824)
        return QString::asprintf("%.2f GB", b / 1073741824.0);
    if (bytes >= 1048576)
        return QString::asprintf("%.2f MB", b / 1048576.0);
    if (bytes >= 1024)
        return QString::asprintf("%.2f KB", b / 1024.0);
    return QString::asprintf("%.0f bytes", b);
}

qreal PropertyViewController::titieSizeFrorString(const QString& text)
{
    if (text.isEmpty())
        return 0;
    QTextDocument doc;
    doc.setDocumentMargin(0);
    doc.setDefaultFont(platform::kit::FontResolver::systemFont(12));
    doc.setTextWidth(164);
    // A path is one long word: it breaks anywhere, as the label draws it.
    QTextOption option = doc.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc.setDefaultTextOption(option);
    doc.setPlainText(text);
    doc.size();   // lays the text out
    int lines = 0;
    qreal used = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (const QTextLayout* layout = block.layout()) {
            lines += layout->lineCount();
            for (int i = 0; i < layout->lineCount(); ++i)
                used = std::max(used, layout->lineAt(i).height());
        }
    }
    return lines * used + lines;
}

void PropertyViewController::applyFromText(const QString& text)
{
    m_labFromValue->setTitle(orDash(text));
    const qreal h = titieSizeFrorString(text);
    const int f = h < 26 ? 30 : int(std::ceil(h + 10));
    KPCoustomDrawBGView* content = m_rows.value(FileNameContent);
    content->resize(kWidth, kContentTopHeight + f);
    const int H = content->height();
    place(m_fileNameContentTopView, QRectF(0, f, kWidth, kContentTopHeight), H);
    place(m_labFromValue, QRectF(101, -1, 164, f), H);
    // The caption shares the first line of the value (which starts at its top), so that the two
    // read on one baseline however many lines the path wraps to.
    const qreal line = QFontMetricsF(valueStyle().font).height();
    place(m_labFrom, QRectF(4, f - 1 - line, 92, line), H);
    // A long path is the link itself, not a label of it.
    m_labFromValue->setToolTip(text);
}

void PropertyViewController::setFlagValue(int flag)
{
    const bool known = flag >= 1 && flag <= 7;
    m_flagViewValue->setProperty("flag", known ? flag : 0);
    m_flagViewValue->setIcon(flagIcon(known ? flag : 0));
    m_flagViewValue->setTitle(known ? flagNameForIndex(flag) : platform::localizedString(QStringLiteral("None")));
}

void PropertyViewController::refreshModifiedDay(const QDateTime& date)
{
    m_modifitedViewValue->setTitle(orDash(dayString(date)));
}

namespace {

// What the inspector shows of several documents: the size of them all, and each other value
// only where they share it.
struct SelectionSummary {
    qint64 size = 0;
    std::optional<int> flag;   // none: they differ
    std::optional<int> rate;   // none: they differ
    std::optional<QString> comment;   // none: they differ
    QSet<QString> tags;   // the tags every one of them carries
    bool sameAuthors = false;
};

// Reads the records through their rows and leaves the display models unloaded: a Select All
// passes here with every listed document, and loading each model for it cost as much memory as
// drawing them all. A value stops being read once it is known to differ; the size is read to
// the end.
SelectionSummary summarize(const QList<KPItemDataPtr>& items)
{
    static const QStringList kFileSize{QStringLiteral("metadata"), QStringLiteral("fileSize")};
    static const QStringList kComment{QStringLiteral("metadata"), QStringLiteral("comment")};
    SelectionSummary summary;
    const QString firstAuthors = items.first()->authorString();
    summary.sameAuthors = !firstAuthors.isNull();
    bool sameFlag = true;
    bool sameRate = true;
    bool sameComment = true;
    bool sharedTags = true;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const KPItemData& item = *items[i];
        const DBFileInfo& record = item.data();
        summary.size += sortfunctions::recordValue(record, kFileSize).toLongLong();
        const bool first = i == 0;
        if (sameFlag) {
            const int flag = int(item.labelWithoutLoading());
            sameFlag = first || flag == *summary.flag;
            summary.flag = flag;
        }
        if (sameRate) {
            const int rate = int(item.rateWithoutLoading());
            sameRate = first || rate == *summary.rate;
            summary.rate = rate;
        }
        if (sameComment) {
            const QString comment = sortfunctions::recordValue(record, kComment).toString();
            sameComment = first || comment == *summary.comment;
            if (first)
                summary.comment = comment;
        }
        if (sharedTags) {
            const QStringList names = item.tagObjectsWithoutLoading();
            const QSet<QString> own(names.begin(), names.end());
            summary.tags = first ? own : summary.tags.intersect(own);
            sharedTags = !summary.tags.isEmpty();
        }
        if (!first && summary.sameAuthors && item.authorString() != firstAuthors)
            summary.sameAuthors = false;
    }
    if (!sameFlag)
        summary.flag.reset();
    if (!sameRate)
        summary.rate.reset();
    if (!sameComment)
        summary.comment.reset();
    return summary;
}

} // namespace

namespace {

// A field the user is typing in keeps what is typed while it already shows these tokens: its own
// comma commit stores a token and the documents are shown again, before the next token is whole.
void showTokens(KPTokenEditorView* field, const QStringList& values)
{
    if (field->textView()->hasFocus()) {
        QStringList shown = values;
        shown.removeDuplicates();
        std::sort(shown.begin(), shown.end());
        if (shown == field->tokenValues())
            return;
    }
    field->setTokenValues(values);
}

} // namespace

void PropertyViewController::refreshDatas()
{
    closeCompletion();
    if (m_cacheDatas.isEmpty()) {
        layoutViews();
        return;
    }
    const bool safeBox = m_viewType == kSafeBoxViewType;
    m_folderNameViewValue->setEditorEnabled(!safeBox);
    for (Row hidden : {Flag, Rating, Author, Tag, Description})
        m_rows.value(hidden)->setVisible(!safeBox);
    const qsizetype count = m_cacheDatas.size();
    const KPItemDataPtr& first = m_cacheDatas.first();
    m_ratingViewValue->setDelegate({[this](KPRatingView* v) {
        if (m_delegate.onRateChange)
            m_delegate.onRateChange(this, v->rateValue());
    }});

    if (count == 1) {
        const QString title = first->title();
        m_labFileName->setTitle(title);
        m_labFileName->setToolTip(title);
        const QString path = first->filePath();
        const QString kind = path.isEmpty() ? QString()
                                            : KPFileFormatManager::fileFormatManager().kindNameByExtenstion(
                                                  QFileInfo(path).suffix());
        m_labFileTypeValue->setTitle(orDash(kind));
        m_labFileTypeValue->setToolTip(kind);
    } else {
        m_labFileName->setTitle(platform::localizedString(kTitleKey).replace(QStringLiteral("%ld"), QString::number(count)));
        m_labFileName->setToolTip(QString());
        m_labFileTypeValue->setTitle(QStringLiteral("--"));
        m_labFileTypeValue->setToolTip(QString());
    }

    if (safeBox) {
        qint64 size = 0;
        if (count == 1) {
            size = first->fileSize();
        } else {
            for (const KPItemDataPtr& item : std::as_const(m_cacheDatas))
                size += QFileInfo(item->filePath()).size();
        }
        m_labSizeValue->setTitle(sizeString(size));
        if (count == 1) {
            m_labDateCreateValue->setDate(first->dateCreated());
            m_labDateModifiedValue->setDate(first->dateModified());
            m_labLastOpenValue->setTitle(orDash(dateTimeString(lastUsedDateOfFile(first->filePath()))));
            applyFromText(QStringLiteral("SafeBox"));
            m_modifitedViewValue->setTitle(orDash(dayString(first->dateModified())));
        } else {
            m_labDateCreateValue->setDate(std::nullopt);
            m_labDateModifiedValue->setDate(std::nullopt);
            m_labLastOpenValue->setTitle(QStringLiteral("--"));
            applyFromText(QString());
            m_modifitedViewValue->setTitle(QStringLiteral("--"));
        }
        m_folderNameViewValue->setTitle(QStringLiteral("SafeBox"));
        if (count == 1) {
            setFlagValue(0);
            m_ratingViewValue->setRateValue(0);
            m_tagViewValue->setTokenValues(first->tagObjects());
            m_authorViewValue->setTokenValues(first->authorObjects().value_or(QStringList()));
            m_descriptionViewValue->setStringValue(QString());
        }
        layoutViews();
        return;
    }

    // Library documents.
    if (count == 1) {
        const DBFileInfo& record = first->data();
        const DBFileInfoMetadata meta = record ? record.metadata() : DBFileInfoMetadata();
        m_labSizeValue->setTitle(sizeString(meta ? meta.fileSize() : 0));
        m_labDateCreateValue->setDate(meta ? std::optional(meta.dateCreated()) : std::nullopt);
        m_labDateModifiedValue->setDate(meta ? std::optional(meta.dateModified()) : std::nullopt);
        m_labLastOpenValue->setTitle(orDash(meta ? dateTimeString(meta.dateLastOpen()) : QString()));
        const QString from = meta ? meta.from() : QString();
        applyFromText(from.isEmpty() ? QString() : QFileInfo(from).path());
        const DBNode node = record ? record.node() : DBNode();
        m_folderNameViewValue->setTitle(node ? node.title() : platform::localizedString(QStringLiteral("None")));
        m_modifitedViewValue->setTitle(orDash(meta ? dayString(meta.dateModified()) : QString()));
        setFlagValue(meta ? meta.label() : 0);
        m_ratingViewValue->setRateValue(meta ? meta.rate() : 0);
        showTokens(m_tagViewValue, first->tagObjects());
        showTokens(m_authorViewValue, first->authorObjects().value_or(QStringList()));
        m_descriptionViewValue->setStringValue(meta ? meta.comment() : QString());
        m_sourceMutileValues.clear();
    } else {
        const SelectionSummary summary = summarize(m_cacheDatas);
        const qint64 size = summary.size;
        m_labSizeValue->setTitle(sizeString(size));
        m_labDateCreateValue->setDate(std::nullopt);
        m_labDateModifiedValue->setDate(std::nullopt);
        m_labLastOpenValue->setTitle(QStringLiteral("--"));
        applyFromText(QString());
        m_folderNameViewValue->setTitle(platform::localizedString(QStringLiteral("None")));
        m_modifitedViewValue->setTitle(QStringLiteral("--"));
        setFlagValue(summary.flag.value_or(0));
        m_ratingViewValue->setRateValue(summary.rate.value_or(0));
        m_sourceMutileValues = summary.tags;
        QStringList shown = summary.tags.values();
        shown.sort();
        showTokens(m_tagViewValue, shown);
        m_sourceAuthors = summary.sameAuthors ? first->authorObjects().value_or(QStringList()) : QStringList();
        showTokens(m_authorViewValue, m_sourceAuthors);
        m_descriptionViewValue->setStringValue(summary.comment.value_or(QString()));
    }
    if (count == 1)
        m_sourceAuthors = first->authorObjects().value_or(QStringList());
    layoutViews();
    updateUISizeByControl(m_authorViewValue);
    updateUISizeByControl(m_tagViewValue);
    updateUISizeByControl(m_descriptionViewValue->textView());
}

void PropertyViewController::layoutViews()
{
    if (!m_view)
        return;
    int top = 0;
    for (KPCoustomDrawBGView* row : std::as_const(m_views)) {
        row->setGeometry(row->x(), top, kWidth, row->height());
        top += row->height();
    }
    const int w = m_view->width();
    const int h = m_view->height();
    const QSize label = m_labNoSelection->size();
    // Centred 10 points below the middle (y-up 10 lower means y-down 10 more).
    const int labelTop = h - (int(std::round((h - label.height()) / 2.0)) - 10) - label.height();
    m_labNoSelection->move(int(std::round((w - label.width()) / 2.0)), labelTop);
    m_imgNoSelectionView->move(int(std::round((w - 72) / 2.0)), labelTop - 8 - 98);
}

void PropertyViewController::onBtnMoreClick()
{
    KPCoustomDrawBGView* content = m_rows.value(FileNameContent);
    m_detailsOpen = !m_views.contains(content);
    if (m_detailsOpen) {
        m_views.insert(1, content);
        content->setVisible(!m_cacheDatas.isEmpty());
    } else {
        m_views.removeOne(content);
        content->hide();
    }
    m_btnMore->setIsHighlight(m_detailsOpen);
    layoutViews();
}

void PropertyViewController::drawBackground(KPCoustomDrawBGView* view, QPainter& painter)
{
    Canvas canvas(painter, view->height());
    const QRectF bounds(0, 0, view->width(), view->height());
    auto color = [](const QString& name) -> std::optional<QColor> {
        if (auto* c = themed<KPColor>(name))
            return c->color();
        return std::nullopt;
    };
    auto image = [](const QString& name) -> QImage {
        auto* s = themed<KPSprite>(name);
        return s ? s->image() : QImage();
    };
    if (view == m_view) {
        if (auto bg = color(QStringLiteral("PropertyViewBGColor")))
            canvas.fillRect(bounds, *bg);
        return;
    }
    if (view == m_rows.value(FileName)) {
        if (const QImage bg = image(QStringLiteral("PropertyViewFileNameBG")); !bg.isNull())
            canvas.drawImage(bounds, bg);
        return;
    }
    if (view == m_rows.value(FileNameContent)) {
        if (auto bg = color(QStringLiteral("PropertyViewInfoContentBGColor")))
            canvas.fillRect(bounds, *bg);
        if (const QImage top = image(QStringLiteral("PropertyViewInfoContentTopBG")); !top.isNull())
            canvas.drawImage(QRectF(0, bounds.height() - 8, bounds.width(), 8), top);
        if (const QImage bottom = image(QStringLiteral("PropertyViewInfoContentBottomBG")); !bottom.isNull())
            canvas.drawImage(QRectF(0, 0, bounds.width(), 8), bottom);
        return;
    }
    if (auto bg = color(QStringLiteral("PropertyViewBGColor")))
        canvas.fillRect(bounds, *bg);
    if (auto up = color(QStringLiteral("PropertyViewInfoItemLineColor1")))
        canvas.fillRect(QRectF(0, 1, bounds.width(), 1), *up);
    if (auto down = color(QStringLiteral("PropertyViewInfoItemLineColor2")))
        canvas.fillRect(QRectF(0, 0, bounds.width(), 1), *down);
    static const QMap<Row, QString> icons{{FolderName, QStringLiteral("PropertyView_Folder_Icon")},
                                          {Modified, QStringLiteral("PropertyView_Date_Icon")},
                                          {Flag, QStringLiteral("PropertyView_Flag_Icon")},
                                          {Rating, QStringLiteral("PropertyView_Rate_Icon")},
                                          {Author, QStringLiteral("PropertyView_Author_Icon")},
                                          {Tag, QStringLiteral("PropertyView_Tag_Icon")},
                                          {Description, QStringLiteral("PropertyView_Desc_Icon")}};
    const Row which = m_rows.key(view, FileName);
    if (icons.contains(which))
        if (const QImage icon = image(icons.value(which)); !icon.isNull())
            canvas.drawImage(QRectF(12, bounds.height() - 23, 16, 16), icon);
}

QMenu* PropertyViewController::folderEditorPopMenu(KPDBFolderEditor* editor)
{
    if (m_viewType == kSafeBoxViewType || m_cacheDatas.isEmpty())
        return nullptr;
    auto* menu = new QMenu;
    if (editor == m_flagViewValue) {
        QList<int> flags{0};
        flags.append(kFlagOrder);
        for (int flag : flags) {
            const QString title = flag == 0 ? platform::localizedString(QStringLiteral("None")) : flagNameForIndex(flag);
            QAction* action = menu->addAction(QIcon(QPixmap::fromImage(flagIcon(flag))), title);
            action->setData(flag);
            QObject::connect(action, &QAction::triggered, menu, [this, flag] { onFlagClick(flag); });
        }
        return menu;
    }
    if (editor == m_folderNameViewValue && m_delegate.onFolderNameMenu) {
        m_delegate.onFolderNameMenu(this, menu, [this](const DBNode& folder) { onFolderNameClick(folder); });
        return menu;
    }
    delete menu;
    return nullptr;
}

void PropertyViewController::onFlagClick(int flag)
{
    setFlagValue(flag);
    if (m_delegate.onFlagChange)
        m_delegate.onFlagChange(this, flag);
}

void PropertyViewController::onFolderNameClick(const DBNode& folder)
{
    if (folder)
        m_folderNameViewValue->setTitle(folder.title());
    if (m_delegate.onFolderChange)
        m_delegate.onFolderChange(this, folder);
}

void PropertyViewController::onLabFromClick()
{
    const QString path = m_labFromValue->title();
    if (m_cacheDatas.size() != 1 || m_viewType == kSafeBoxViewType || path.isEmpty() || path == QLatin1String("--"))
        return;
    m_services.selectInFileViewer(path);
}
