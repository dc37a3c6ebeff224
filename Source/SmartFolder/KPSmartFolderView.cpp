#include "SmartFolder/KPSmartFolderView.h"

#include "Controls/KPRatingView.h"
#include "Controls/KPThemeImageButton.h"
#include "Controls/KPTokenEditorView.h"
#include "Import/KPFileFormatManager.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Foundation/NaturalCompare.h"
#include "Platform/Kit/Canvas.h"
#include "Platform/Kit/FontResolver.h"
#include "Platform/Kit/ImageSlicing.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "Store/DBAuthor.h"
#include "Store/DBIndexFolder.h"
#include "Store/DBNode.h"
#include "Store/DBTag.h"
#include "Store/DataBaseEngine.h"
#include "Theme/KPCustomThemeObject.h"
#include "Theme/KPMultiSprite.h"
#include "Theme/KPSprite.h"
#include "Theme/KPThemeObject.h"
#include "Utilities/FlagNames.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDoubleValidator>
#include <QIcon>
#include <QIntValidator>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPaintEvent>
#include <QPixmap>
#include <QTextDocument>
#include <QTextFrame>
#include <algorithm>

using namespace SmartFolderRules;

namespace {

const QStringList kRelativeDateCodes{"ISTODAY", "ISYERTERDAY", "ISTHISWEEK", "ISLASTWEEK", "ISTHISMONTH", "ISLASTMONTH"};
const QHash<QString, QString> kRelativeDateKeys{
    {"ISTODAY", "IsToDay"},         {"ISYERTERDAY", "IsYerterday"}, {"ISTHISWEEK", "IsThisWeek"},
    {"ISLASTWEEK", "IsLastWeek"},   {"ISTHISMONTH", "IsThisMonth"}, {"ISLASTMONTH", "IsLastMonth"},
};
const QString kInTheLast = QStringLiteral("ISINTHELAST");
// The flag menu's order.
constexpr int kFlagOrder[] = {6, 7, 5, 2, 4, 3, 1};

bool isNamePopUpCode(const QString& code) { return code == "==" || code == "!="; }

int indexOfData(const QComboBox* box, const QVariant& data)
{
    for (int i = 0; i < box->count(); ++i) {
        const QVariant item = box->itemData(i);
        if (item.isValid() && item == data)
            return i;
    }
    return -1;
}

// The side bar's picture of a collection, folder, documents entry or index folder.
QIcon sideBarIcon(const QString& name)
{
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("TopbarSidebarIcon"));
    auto* sprite = group ? group->themeObjectWithName<KPMultiSprite>(name) : nullptr;
    if (!sprite || !sprite->normalSprite() || sprite->normalSprite()->image().isNull())
        return {};
    return QIcon(QPixmap::fromImage(sprite->normalSprite()->image()));
}

// A flag's 16 x 20 picture: the right half of its 32 x 20 sprite.
QIcon flagIcon(int flag)
{
    auto* group = KPThemeObject::customThemeObjectWithName(QStringLiteral("Flag"));
    auto* sprite = group ? group->themeObjectWithName<KPSprite>(QString::number(flag)) : nullptr;
    if (!sprite || sprite->image().isNull())
        return {};
    const qreal dpr = std::max<qreal>(sprite->image().devicePixelRatio(), 1);
    return QIcon(QPixmap::fromImage(platform::kit::Canvas::paintedImage(
        QSizeF(16, 20), dpr, [&](platform::kit::Canvas& canvas) { canvas.drawImage(QRectF(-16, 0, 32, 20), sprite->image()); })));
}

// The content field's background: the bundle image cut into its left cap, middle and right cap.
std::array<QImage, 3> contentBackground(qreal dpr)
{
    const platform::Bundle& bundle = platform::Bundle::mainBundle();
    QString path;
    qreal scale = 1;
    if (dpr > 1) {
        path = bundle.pathForResource(QStringLiteral("smartfolder_content_textfiled@2x"), QStringLiteral("png"));
        scale = 2;
    }
    if (path.isEmpty()) {
        path = bundle.pathForResource(QStringLiteral("smartfolder_content_textfiled"), QStringLiteral("png"));
        scale = 1;
    }
    const QImage sheet = path.isEmpty() ? QImage() : QImage(path);
    if (sheet.isNull()) {
        KPLogLogMessage(QStringLiteral("smart folder: the content field's background image is missing"));
        return {};
    }
    using platform::kit::cutImage;
    return {cutImage(sheet, QRectF(0, 0, 4, 20), scale), cutImage(sheet, QRectF(4, 0, 2, 20), scale),
            cutImage(sheet, QRectF(6, 0, 4, 20), scale)};
}

// The small system font: 11 logical pixels, whatever the screen's DPI.
QFont smallFont()
{
    return platform::kit::FontResolver::systemFont(11);
}

} // namespace

// --- choices -------------------------------------------------------------------------------

namespace {

template <typename Record>
QList<Record> fetch(DataBaseEngine* store, const QString& format, const QVariantList& arguments,
                    const std::optional<platform::SortDescriptor>& sort = std::nullopt)
{
    if (!store)
        return {};
    // No format: every record.
    const auto predicate = format.isEmpty() ? platform::Result<platform::Predicate>(platform::Predicate())
                                            : platform::Predicate::format(format, arguments);
    if (!predicate)
        return {};
    auto found = store->queryRecordByName(Record::entityName(), *predicate, sort);
    return found ? DBRecord::recordsOf<Record>(*found) : QList<Record>();
}

void appendTree(const DBNode& node, int depth, QList<SmartFolderChoices::Collection>& out)
{
    if (node.type() == 1 || node.type() == 2)
        out.append({node.title(), node.nodeID(), depth, node.type()});
    for (const DBNode& child : node.children())
        appendTree(child, depth + 1, out);
}

QStringList names(const auto& records)
{
    QStringList out;
    for (const auto& record : records)
        out.append(record.name());
    return out;
}

} // namespace

SmartFolderChoices SmartFolderChoices::fromStore(DataBaseEngine* store)
{
    SmartFolderChoices choices;
    choices.collections = [store] {
        QList<Collection> out;
        const auto roots = fetch<DBNode>(store, "(type == %d || type == %d) && isTrash == NO && parent == nil", {1, 2});
        for (const DBNode& root : roots)
            appendTree(root, 0, out);
        return out;
    };
    choices.sources = [store] {
        QList<Source> out;
        for (const DBIndexFolder& folder : fetch<DBIndexFolder>(store, "isTrash == NO", {}, platform::SortDescriptor("title")))
            out.append({folder.title(), folder.path()});
        return out;
    };
    choices.tags = [store] { return names(fetch<DBTag>(store, "isTrash == NO", {})); };
    choices.authors = [store] { return names(fetch<DBAuthor>(store, QString(), {})); };
    choices.kinds = [] { return KPFileFormatManager::fileFormatManager().kindList(); };
    choices.kindName = [](qint64 id) { return KPFileFormatManager::fileFormatManager().kindNameByKindID(id); };
    choices.kindID = [](const QString& name) { return KPFileFormatManager::fileFormatManager().kindIDByKindName(name); };
    return choices;
}

// --- row -----------------------------------------------------------------------------------

KPSmartRowEditor::KPSmartRowEditor(SmartRowEditorType type, const QRect& frame, KPSmartFolderView* parnet)
    : QWidget(parnet)
    , m_type(type)
    , m_parnet(parnet)
{
    setGeometry(frame);
    initData();
}

void KPSmartRowEditor::placeValue(QWidget* widget, int x, int y, int w, int h)
{
    // The value controls follow the two pop-ups wherever their titles made them wider, and
    // stop short of the delete button.
    x += m_valueShift;
    place(widget, x, y, std::max(std::min(w, width() - 47 - kButtonGap - x), 40), h);
}

void KPSmartRowEditor::place(QWidget* widget, int x, int y, int w, int h)
{
    // Frames are given bottom-up within the row, as the rule list is laid out.
    widget->setGeometry(x, kRowHeight - y - h, w, h);
    widget->setFont(smallFont());
}

int KPSmartRowEditor::popUpWidthFor(const QStringList& titles, int atLeast)
{
    QComboBox probe;
    probe.setFont(smallFont());
    probe.setSizeAdjustPolicy(QComboBox::AdjustToContents);
    probe.addItems(titles);
    return std::max(atLeast, probe.sizeHint().width());
}

void KPSmartRowEditor::setTag(int tag)
{
    if (m_tag != tag) {
        m_tag = tag;
        update();
    }
}

void KPSmartRowEditor::initData()
{
    const int width = this->width();
    // Every row shares the two columns, sized to the longest field and operator texts, so
    // no title is cut off and the rows line up.
    const int fieldWidth = KPSmartFolderView::fieldColumnWidth();
    const int operatorWidth = KPSmartFolderView::operatorColumnWidth();
    m_valueShift = fieldWidth - kLeastFieldWidth + operatorWidth - kLeastOperatorWidth;
    m_leftBtn = new QComboBox(this);
    place(m_leftBtn, 10, 2, fieldWidth, 26);
    connect(m_leftBtn, &QComboBox::activated, this, [this] { btnChangeClick(); });
    m_centerBtn = new QComboBox(this);
    place(m_centerBtn, 10 + fieldWidth + 5, 2, operatorWidth, 26);
    connect(m_centerBtn, &QComboBox::activated, this, [this] { btnCenterPopUpClick(); });

    m_btnDelete = new KPThemeImageButton(QRect(), this);
    m_btnDelete->setObjectName("SmartRowEditor_DeleteButton");
    m_btnDelete->setMultiSprite(KPThemeObject::themeObjectWithName<KPMultiSprite>(QStringLiteral("SmartRowEditor_DeleteButton")));
    m_btnDelete->setToolTip(platform::localizedString("Remove this rule"));
    place(m_btnDelete, width - 47, 7, 16, 16);
    m_btnDelete->setupAction([this](KPThemeImageButton*) { m_parnet->deleteRow(this); });
    m_btnAdd = new KPThemeImageButton(QRect(), this);
    m_btnAdd->setObjectName("SmartRowEditor_AddButton");
    m_btnAdd->setMultiSprite(KPThemeObject::themeObjectWithName<KPMultiSprite>(QStringLiteral("SmartRowEditor_AddButton")));
    m_btnAdd->setToolTip(platform::localizedString("Add a rule"));
    place(m_btnAdd, width - 22, 7, 16, 16);
    m_btnAdd->setupAction([this](KPThemeImageButton*) { m_parnet->add(this); });

    const SmartFolderChoices& choices = m_parnet->choices();
    switch (m_type) {
    case SmartRowText:
        m_text = new QLineEdit(this);
        placeValue(m_text, 261, 6, 200, 22);
        break;
    case SmartRowFileType:
        m_popUp = new QComboBox(this);
        placeValue(m_popUp, 261, 2, 248, 22);
        break;
    case SmartRowDate: {
        m_date = new QDateEdit(QDate::currentDate(), this);
        m_date->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
        m_date->setCalendarPopup(true);
        // As high as the pop-ups beside it, so the row does not cut its frame off.
        placeValue(m_date, 261, 2, 120, 26);
        m_count = new QLineEdit(this);
        m_count->setValidator(new QIntValidator(0, 9999, m_count));
        placeValue(m_count, 261, 6, 80, 19);
        m_count->hide();
        m_unit = new QComboBox(this);
        const QStringList units{"DaysStr", "WeeksStr", "MonthsStr"};
        for (int i = 0; i < units.size(); ++i)
            m_unit->addItem(platform::localizedString(units[i]), qint64(i));
        placeValue(m_unit, 346, 2, popUpWidthFor(unitTexts(), 65), 26);
        m_unit->hide();
        break;
    }
    case SmartRowSize: {
        m_text = new QLineEdit(this);
        auto* validator = new QDoubleValidator(0, 1e15, 2, m_text);
        validator->setNotation(QDoubleValidator::StandardNotation);
        m_text->setValidator(validator);
        placeValue(m_text, 261, 6, 130, 19);
        m_unit = new QComboBox(this);
        const QStringList units{"KB", "MB", "GB"};
        for (int i = 0; i < units.size(); ++i)
            m_unit->addItem(units[i], qint64(i));
        placeValue(m_unit, 396, 2, popUpWidthFor(units, 50), 26);
        break;
    }
    case SmartRowLabel:
        m_popUp = new QComboBox(this);
        placeValue(m_popUp, 266, 2, 120, 26);
        m_popUp->setIconSize(QSize(16, 20));
        m_popUp->addItem(flagIcon(0), platform::localizedString("None"), qint64(0));
        for (int flag : kFlagOrder)
            m_popUp->addItem(flagIcon(flag), flagNameForIndex(flag), qint64(flag));
        break;
    case SmartRowRating:
        m_rating = new KPRatingView(QRect(), this);
        placeValue(m_rating, 267, 6, 110, 20);
        break;
    case SmartRowTag:
    case SmartRowAuthor:
        m_text = new QLineEdit(this);
        placeValue(m_text, 261, 6, 150, 19);
        m_text->hide();
        m_popUp = new QComboBox(this);
        placeValue(m_popUp, 261, 2, 200, 26);
        m_popUp->addItem(platform::localizedString(m_type == SmartRowTag ? "UnTag" : "None"), QString());
        break;
    case SmartRowCollection: {
        m_popUp = new QComboBox(this);
        placeValue(m_popUp, 261, 2, 248, 26);
        m_popUp->setIconSize(QSize(16, 16));
        const QIcon folder = sideBarIcon(QStringLiteral("TopbarSidebarIcon-Folder"));
        const QIcon collection = sideBarIcon(QStringLiteral("TopbarSidebarIcon-Collection"));
        m_popUp->addItem(folder, platform::localizedString("UnCollection"), qint64(0));
        const auto collections = choices.collections ? choices.collections() : QList<SmartFolderChoices::Collection>();
        if (!collections.isEmpty())
            m_popUp->insertSeparator(m_popUp->count());
        for (const auto& node : collections)
            m_popUp->addItem(node.type == 1 ? collection : folder, QString(node.depth * 4, QLatin1Char(' ')) + node.title,
                             qint64(node.nodeID));
        break;
    }
    case SmartRowDocumentSource: {
        m_popUp = new QComboBox(this);
        placeValue(m_popUp, 261, 2, 248, 26);
        m_popUp->setIconSize(QSize(16, 16));
        m_popUp->addItem(sideBarIcon(QStringLiteral("TopbarSidebarIcon-Document")), platform::localizedString("Documents"),
                         QStringLiteral("0"));
        const auto sources = choices.sources ? choices.sources() : QList<SmartFolderChoices::Source>();
        if (!sources.isEmpty())
            m_popUp->insertSeparator(m_popUp->count());
        const QIcon indexFolder = sideBarIcon(QStringLiteral("TopbarSidebarIcon-IndexFolder"));
        for (const auto& source : sources)
            m_popUp->addItem(indexFolder, source.title, source.path);
        break;
    }
    case SmartRowContent: {
        m_tokens = new KPTokenEditorView(QRect(), this);
        placeValue(m_tokens, 261, 4, 248, 20);
        m_tokens->setWraps(false);
        // One line inside the field's caps: the words scroll sideways, never up and down.
        KPTokenTextView* text = m_tokens->textView();
        text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_contentBGRef = contentBackground(devicePixelRatioF());
        KPTokenEditorViewDelegate delegate;
        delegate.cellForString = [](KPTokenEditorView*, const QString& word) -> KPTokenCellPtr {
            return std::make_shared<KPTokenContentAttachmentCell>(word);
        };
        delegate.attachmentType = [](KPTokenEditorView*, const QString& type) -> KPTokenCellPtr {
            if (type == QStringLiteral("KPTokenContentAttachmentCell"))
                return std::make_shared<KPTokenContentAttachmentCell>(QString());
            return nullptr;
        };
        delegate.drawBackground = [this](KPTokenEditorView* view, QPainter& painter) {
            if (view == m_tokens)
                drawContentBackground(painter);
        };
        m_tokens->setDelegate(std::move(delegate), this);
        fitContentFrame();
        break;
    }
    }
}

void KPSmartRowEditor::setLeftValues()
{
    m_leftBtn->clear();
    for (const SmartField& field : smartFields()) {
        if (field.title == QStringLiteral("-"))
            m_leftBtn->insertSeparator(m_leftBtn->count());
        else
            m_leftBtn->addItem(KPSmartFolderView::fieldText(field.title), field.title);
    }
}

void KPSmartRowEditor::selectFromTitle(const QString& title)
{
    int index = indexOfData(m_leftBtn, title);
    if (index < 0) {
        // A field this version does not know stays as it was stored rather than being renamed.
        m_leftBtn->addItem(title, title);
        index = m_leftBtn->count() - 1;
    }
    m_leftBtn->setCurrentIndex(index);
}

void KPSmartRowEditor::setCenterValues(const QStringList& codes)
{
    m_centerBtn->clear();
    for (const QString& code : codes) {
        if (code == QStringLiteral("-"))
            m_centerBtn->insertSeparator(m_centerBtn->count());
        else
            m_centerBtn->addItem(KPSmartFolderView::operatorText(code), code);
    }
    showValueControlsFor(centerCode());
}

void KPSmartRowEditor::selectOpertionFromKeyName(const QString& code)
{
    if (code.isEmpty())
        return;
    const int index = indexOfData(m_centerBtn, code);
    if (index < 0) {
        KPLogLogMessage(QStringLiteral("smart folder: operator %1 not offered for %2").arg(code, leftStringValue()));
        return;
    }
    m_centerBtn->setCurrentIndex(index);
    showValueControlsFor(code);
}

void KPSmartRowEditor::fitContentFrame()
{
    // The tokens stand on the field's full height, between its caps.
    QTextDocument* document = m_tokens->textView()->document();
    document->setDocumentMargin(0);
    QTextFrameFormat format = document->rootFrame()->frameFormat();
    format.setLeftMargin(kContentCap);
    format.setRightMargin(kContentCap);
    document->rootFrame()->setFrameFormat(format);
}

void KPSmartRowEditor::drawContentBackground(QPainter& painter)
{
    const auto& [left, middle, right] = m_contentBGRef;
    if (left.isNull() || middle.isNull() || right.isNull())
        return;
    const QRectF field(0, 0, m_tokens->width(), 20);
    platform::kit::Canvas canvas(painter, m_tokens->height());
    platform::kit::drawThreeSlice(canvas, field, left, middle, right);
}

QString KPSmartRowEditor::leftStringValue() const { return m_leftBtn->currentData().toString(); }

QString KPSmartRowEditor::centerCode() const { return m_centerBtn->currentData().toString(); }

void KPSmartRowEditor::showValueControlsFor(const QString& code)
{
    if (m_type == SmartRowDate) {
        const bool relative = kRelativeDateCodes.contains(code);
        const bool inTheLast = code == kInTheLast;
        m_date->setVisible(!relative && !inTheLast);
        m_count->setVisible(inTheLast);
        m_unit->setVisible(inTheLast);
    } else if (m_type == SmartRowTag || m_type == SmartRowAuthor) {
        m_popUp->setVisible(isNamePopUpCode(code));
        m_text->setVisible(!isNamePopUpCode(code));
    }
}

void KPSmartRowEditor::btnCenterPopUpClick() { showValueControlsFor(centerCode()); }

void KPSmartRowEditor::btnChangeClick()
{
    const QString title = leftStringValue();
    if (smartFieldForTitle(title))
        m_parnet->changeRowFromTitle(title, this);
}

void KPSmartRowEditor::setRightValues(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return;
    const QVariantMap map = value.toMap();
    switch (m_type) {
    case SmartRowText:
        m_text->setText(value.toString());
        break;
    case SmartRowContent:
        m_tokens->setTokenString(value.toString());
        fitContentFrame();
        break;
    case SmartRowFileType:
        m_popUp->clear();
        for (const QVariant& kind : map.value("List").toList())
            m_popUp->addItem(kind.toString(), kind.toString());
        m_popUp->setCurrentIndex(std::clamp(map.value("Index").toInt(), 0, std::max(0, m_popUp->count() - 1)));
        break;
    case SmartRowCollection:
    case SmartRowLabel: {
        const int index = indexOfData(m_popUp, qint64(value.toLongLong()));
        m_popUp->setCurrentIndex(std::max(0, index));
        break;
    }
    case SmartRowDocumentSource: {
        const QString path = value.toString();
        int index = indexOfData(m_popUp, path);
        if (index < 0) {
            // A folder that is no longer indexed stays the rule's source, shown as missing:
            // falling back to the library's own documents would turn a rule that lists
            // nothing into one that lists everything the moment the sheet is confirmed.
            m_popUp->addItem(sideBarIcon(QStringLiteral("TopbarSidebarIcon-IndexFolder")),
                             platform::localizedString("%@ (missing)").replace("%@", path), path);
            index = m_popUp->count() - 1;
            m_popUp->setItemData(index, QColor(Qt::gray), Qt::ForegroundRole);
        }
        m_popUp->setCurrentIndex(index);
        break;
    }
    case SmartRowRating:
        m_rating->setRateValue(value.toLongLong());
        break;
    case SmartRowSize:
        m_text->setText(QLocale().toString(map.value("Size").toDouble(), 'f', 2));
        m_unit->setCurrentIndex(std::clamp(map.value("Index").toInt(), 0, 2));
        break;
    case SmartRowDate: {
        const QString code = centerCode();
        showValueControlsFor(code);
        if (code == kInTheLast) {
            if (map.contains("IntValue")) {
                m_count->setText(QString::number(map.value("IntValue").toLongLong()));
                m_unit->setCurrentIndex(std::clamp(map.value("Index").toInt(), 0, 2));
            }
        } else if (!kRelativeDateCodes.contains(code) && map.value("Date").canConvert<QDateTime>()) {
            const QDateTime date = map.value("Date").toDateTime();
            if (date.isValid()) {
                m_date->setDate(date.toLocalTime().date());
                // Kept so that an untouched picker gives the stored instant back, time of day included.
                m_date->setProperty("storedDate", date);
            }
        }
        break;
    }
    case SmartRowTag:
    case SmartRowAuthor: {
        const QVariantList list = map.value("List").toList();
        if (!list.isEmpty())
            m_popUp->insertSeparator(m_popUp->count());
        for (const QVariant& name : list)
            m_popUp->addItem(name.toString(), name.toString());
        const int index = map.value("Index").toInt();
        m_popUp->setCurrentIndex(index >= 0 && index < m_popUp->count() ? index : 0);
        m_text->setText(map.value("Name").toString());
        break;
    }
    }
}

namespace {

// Whether stored is a value of the kind a row gives (maps with the same keys, each of its kind):
// a stored value of another kind is damaged and is not kept.
bool sameKind(const QVariant& stored, const QVariant& given)
{
    if (stored.metaType() != given.metaType())
        return false;
    if (stored.typeId() != QMetaType::QVariantMap)
        return true;
    const QVariantMap a = stored.toMap();
    const QVariantMap b = given.toMap();
    if (a.keys() != b.keys())
        return false;
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!sameKind(it.value(), b.value(it.key())))
            return false;
    return true;
}

} // namespace

void KPSmartRowEditor::keepStoredValue(const QVariant& stored)
{
    m_shownRight = rightValue();
    m_storedRight = sameKind(stored, m_shownRight) ? stored : QVariant();
}

QVariant KPSmartRowEditor::rightValue() const
{
    const QString code = centerCode();
    QVariant right;
    switch (m_type) {
    case SmartRowText:
        right = m_text->text();
        break;
    case SmartRowContent:
        right = m_tokens->tokenString();
        break;
    case SmartRowFileType:
        right = m_parnet->choices().kindID ? m_parnet->choices().kindID(m_popUp->currentText()) : qint64(0);
        break;
    case SmartRowSize:
        right = QVariantMap{{"Size", QLocale().toDouble(m_text->text())}, {"Index", qint64(m_unit->currentIndex())}};
        break;
    case SmartRowLabel:
    case SmartRowCollection:
        right = qint64(m_popUp->currentData().toLongLong());
        break;
    case SmartRowRating:
        right = m_rating->rateValue();
        break;
    case SmartRowDocumentSource:
        right = m_popUp->currentData().toString();
        break;
    case SmartRowTag:
    case SmartRowAuthor:
        if (isNamePopUpCode(code))
            right = m_popUp->currentIndex() > 0 ? m_popUp->currentData().toString() : QString();
        else
            right = m_text->text();
        break;
    case SmartRowDate:
        if (kRelativeDateKeys.contains(code)) {
            right = QVariantMap{{kRelativeDateKeys.value(code), true}};
        } else if (code == kInTheLast) {
            right = QVariantMap{{"IntValue", qint64(m_count->text().toLongLong())}, {"Index", qint64(m_unit->currentIndex())}};
        } else {
            const QDateTime stored = m_date->property("storedDate").toDateTime();
            QDateTime date = stored.isValid() && stored.toLocalTime().date() == m_date->date()
                                 ? stored
                                 : QDateTime(m_date->date(), QTime::currentTime()).toUTC();
            right = QVariantMap{{"Date", date}};
        }
        break;
    }
    return right;
}

QVariantMap KPSmartRowEditor::smartData() const
{
    const QString title = leftStringValue();
    const SmartField* field = smartFieldForTitle(title);
    QVariant right = rightValue();
    if (m_storedRight.isValid() && right == m_shownRight)
        right = m_storedRight;
    return {{kTitleKey, title},
            {kLeftKey, field ? field->left : property("storedLeft").toString()},
            {kCenterKey, centerCode()},
            {kRightKey, right}};
}

void KPSmartRowEditor::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), (m_tag % 2) ? QColor(237, 245, 254) : QColor(Qt::white));
}

// --- list ----------------------------------------------------------------------------------

KPSmartFolderView::KPSmartFolderView(SmartFolderChoices choices, QWidget* parent)
    : QWidget(parent)
    , m_choices(std::move(choices))
{
}

QString KPSmartFolderView::operatorText(const QString& code)
{
    return platform::localizedString(operatorDisplayKey(code));
}

QString KPSmartFolderView::fieldText(const QString& title)
{
    return platform::localizedString(fieldDisplayKey(title));
}

QStringList KPSmartRowEditor::unitTexts()
{
    return {platform::localizedString("DaysStr"), platform::localizedString("WeeksStr"),
            platform::localizedString("MonthsStr")};
}

int KPSmartFolderView::fieldColumnWidth()
{
    // The texts and the small font are fixed while the program runs.
    static const int width = [] {
        QStringList texts;
        for (const SmartField& field : smartFields())
            texts.append(fieldText(field.title));
        return KPSmartRowEditor::popUpWidthFor(texts, KPSmartRowEditor::kLeastFieldWidth);
    }();
    return width;
}

int KPSmartFolderView::operatorColumnWidth()
{
    static const int width = [] {
        QStringList texts;
        for (const SmartField& field : smartFields()) {
            for (const QString& code : field.operators)
                texts.append(operatorText(code));
        }
        return KPSmartRowEditor::popUpWidthFor(texts, KPSmartRowEditor::kLeastOperatorWidth);
    }();
    return width;
}

SmartRowEditorType KPSmartFolderView::typeFromTitle(const QString& title) { return smartRowEditorTypeForTitle(title); }

QStringList KPSmartFolderView::centerValueFormTitle(const QString& title)
{
    const SmartField* field = smartFieldForTitle(title);
    return field ? field->operators : QStringList();
}

QVariant KPSmartFolderView::rightValueFromTitle(const QString& title, const QVariant& otherData) const
{
    if (title == QStringLiteral("File Type")) {
        const QStringList kinds = m_choices.kinds ? m_choices.kinds() : QStringList();
        qsizetype index = 0;
        if (otherData.isValid() && !otherData.isNull() && m_choices.kindName)
            index = std::max<qsizetype>(0, kinds.indexOf(m_choices.kindName(otherData.toLongLong())));
        return QVariantMap{{"List", kinds}, {"Index", qint64(index)}};
    }
    if (title == QStringLiteral("Tag") || title == QStringLiteral("Author")) {
        const auto& source = title == QStringLiteral("Tag") ? m_choices.tags : m_choices.authors;
        QStringList names = source ? source() : QStringList();
        std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return platform::naturalLess(a, b); });
        const QString name = otherData.typeId() == QMetaType::QString ? otherData.toString() : QString();
        qint64 index = 0;
        if (!name.isEmpty()) {
            qsizetype at = names.indexOf(name);
            if (at < 0) {
                // A name no longer offered (trashed or deleted) is kept, so reopening and saving
                // does not turn the rule into "has no tags".
                names.append(name);
                at = names.size() - 1;
            }
            index = at + 2;
        }
        return QVariantMap{{"List", names}, {"Index", index}, {"Name", name}};
    }
    return {};
}

KPSmartRowEditor* KPSmartFolderView::makeRow(SmartRowEditorType type, const QString& title, const QString& center,
                                             const QVariant& right, int index)
{
    auto* row = new KPSmartRowEditor(type, QRect(1, 0, width() - 2, KPSmartRowEditor::kRowHeight), this);
    m_rows.insert(index, row);
    row->setLeftValues();
    row->selectFromTitle(title);
    row->setCenterValues(centerValueFormTitle(title));
    row->selectOpertionFromKeyName(center);
    row->setRightValues(right);
    row->show();
    return row;
}

KPSmartRowEditor* KPSmartFolderView::addRowByType(SmartRowEditorType type, const QString& title)
{
    KPSmartRowEditor* row = makeRow(type, title, QString(), rightValueFromTitle(title, {}), m_rows.size());
    layoutRows();
    return row;
}

void KPSmartFolderView::add(KPSmartRowEditor*)
{
    if (m_rows.size() >= m_rowMaxValue || m_rows.isEmpty())
        return;
    const QList<SmartField>& fields = smartFields();
    const QString last = m_rows.last()->leftStringValue();
    qsizetype at = -1;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (fields[i].title == last)
            at = i;
    }
    qsizetype next = (at + 1) % fields.size();
    if (fields[next].title == QStringLiteral("-"))
        next = (next + 1) % fields.size();
    addRowByType(fields[next].type, fields[next].title);
}

void KPSmartFolderView::deleteRow(KPSmartRowEditor* row)
{
    if (m_rows.size() < 2 || !m_rows.contains(row))
        return;
    m_rows.removeOne(row);
    row->hide();
    // The row may be the sender of the click being handled.
    row->deleteLater();
    layoutRows();
}

void KPSmartFolderView::changeRowFromTitle(const QString& title, KPSmartRowEditor* row)
{
    const int index = m_rows.indexOf(row);
    if (index < 0)
        return;
    m_rows.removeAt(index);
    row->hide();
    row->deleteLater();
    makeRow(typeFromTitle(title), title, QString(), rightValueFromTitle(title, {}), index);
    layoutRows();
}

QVariantMap KPSmartFolderView::smartData() const
{
    QVariantList rows;
    for (const KPSmartRowEditor* row : m_rows)
        rows.append(row->smartData());
    return {{kSmartDataKey, rows}, {kOperationKey, m_isAnd}};
}

void KPSmartFolderView::setSmartData(const QVariantMap& rules)
{
    if (rules.isEmpty())
        return;
    const QVariantList rows = rules.value(kSmartDataKey).toList();
    if (rows.size() > m_rowMaxValue)
        KPLogLogMessage(QStringLiteral("smart folder: %1 rules stored, the first %2 shown, the rest dropped")
                            .arg(rows.size())
                            .arg(m_rowMaxValue));
    for (const QVariant& item : rows) {
        if (m_rows.size() >= m_rowMaxValue)
            break;
        const QVariantMap rule = item.toMap();
        const QString title = rule.value(kTitleKey).toString();
        const QVariant right = rule.value(kRightKey);
        const bool listed = title == "File Type" || title == "Author" || title == "Tag";
        KPSmartRowEditor* row = makeRow(typeFromTitle(title), title, rule.value(kCenterKey).toString(),
                                        listed ? rightValueFromTitle(title, right) : right, m_rows.size());
        row->keepStoredValue(right);
        if (!smartFieldForTitle(title))
            row->setProperty("storedLeft", rule.value(kLeftKey).toString());
    }
    layoutRows();
}

void KPSmartFolderView::layoutRows()
{
    const int height = int(m_rows.size()) * KPSmartRowEditor::kRowHeight + 2;
    for (int i = 0; i < m_rows.size(); ++i) {
        m_rows[i]->setGeometry(1, i * KPSmartRowEditor::kRowHeight + 1, width() - 2, KPSmartRowEditor::kRowHeight);
        m_rows[i]->setTag(i);
    }
    if (height != this->height()) {
        const int old = this->height();
        setFixedHeight(height);
        if (m_delegate)
            m_delegate(height, height - old);
    }
}

void KPSmartFolderView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    painter.setPen(QColor::fromRgbF(0.677, 0.677, 0.677));
    painter.drawRect(QRect(0, 0, width() - 1, height() - 1));
}
