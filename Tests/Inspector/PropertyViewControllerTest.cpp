#include "../Browser/BrowserLibraryKit.h"
#include "Browser/KPSafeBoxItemData.h"
#include "Controls/KPCoustomDrawBGView.h"
#include "Controls/KPCoustomStyleLabel.h"
#include "Controls/KPDBFolderEditor.h"
#include "Controls/KPDatePicker.h"
#include "Controls/KPDateTextFiledExtend.h"
#include "Controls/KPRatingView.h"
#include "Controls/KPTextEditorView.h"
#include "Controls/KPTokenEditorView.h"
#include "Controls/KPWrapStyleLabel.h"
#include "Inspector/AutoCompletedWindow.h"
#include "Inspector/PropertyViewController.h"
#include "App/KPApp.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/FakeXAttrBackend.h"
#include "Platform/Foundation/PropertyList.h"
#include "Platform/Foundation/XAttr.h"
#include "Store/DBHelper.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/FlagNames.h"

#include "Theme/ThemeContrast.h"

#include <QDir>
#include <QFontMetricsF>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using browsertest::DocumentFields;
using Row = PropertyViewController::Row;

class PropertyViewTest : public browsertest::BrowserLibraryTest {
protected:
    void SetUp() override
    {
        BrowserLibraryTest::SetUp();
        fake = std::make_shared<platform::FakeXAttrBackend>();
        previous = platform::XAttr::setBackend(fake);
        token = center.addObserver({}, [this](const platform::Notification& n) { posted << n.name; });
        PropertyViewServices services;
        services.engine = engine.get();
        services.notifications = &center;
        services.setFileCreationDate = [this](const QDateTime& d, const QString& p) { return fileDate(d, p); };
        services.setFileModificationDate = [this](const QDateTime& d, const QString& p) { return fileDate(d, p); };
        services.selectInFileViewer = [this](const QString& path) { revealed << path; };
        inspector = std::make_unique<PropertyViewController>(services);
        inspector->view()->resize(280, 700);
    }
    void TearDown() override
    {
        inspector.reset();
        platform::XAttr::setBackend(previous);
        BrowserLibraryTest::TearDown();
    }

    bool fileDate(const QDateTime& date, const QString& path)
    {
        dated << path;
        return writableDates && date.isValid();
    }

    KPItemDataPtr item(const DocumentFields& fields)
    {
        KPItemDataPtr it = KPItemData::create(addDocument(fields));
        it->loadDataContent();
        return it;
    }
    void show(const QList<KPItemDataPtr>& items, int type = 0)
    {
        inspector->showItemDatas(items, type);
        inspector->refreshDatas();
    }
    bool rowShown(Row row) const { return !inspector->row(row)->isHidden(); }
    QStringList namesOf(const DBFileInfo& record) const
    {
        QStringList names;
        for (const DBTag& t : record.tags())
            names << t.name();
        names.sort();
        return names;
    }
    QStringList fileTags(const QString& path)
    {
        auto bytes = platform::XAttr::get(path, kFinderTagsAttribute);
        if (!bytes)
            return {QStringLiteral("<missing>")};
        auto list = platform::PropertyList::read(*bytes);
        return list ? list->toStringList() : QStringList();
    }
    // The tag field edited as the user would leave it: the tokens, then the change report.
    void editTags(const QStringList& names)
    {
        inspector->tagViewValue()->setTokenValues(names);
        inspector->onTokenEditorViewTextDidChange(inspector->tagViewValue());
    }
    void editAuthors(const QStringList& names)
    {
        inspector->authorViewValue()->setTokenValues(names);
        inspector->onTokenEditorViewTextDidChange(inspector->authorViewValue());
    }

    platform::NotificationCenter center;
    platform::ObserverToken token;
    QStringList posted;
    QStringList dated;
    QStringList revealed;
    bool writableDates = true;
    std::shared_ptr<platform::FakeXAttrBackend> fake;
    std::shared_ptr<platform::XAttrBackend> previous;
    std::unique_ptr<PropertyViewController> inspector;
};

TEST_F(PropertyViewTest, RefreshShowsNoneOneSeveralAndSafeBoxSelections)
{
    EXPECT_EQ(PropertyViewController::sizeString(1536), QStringLiteral("1.50 KB"));
    EXPECT_EQ(PropertyViewController::sizeString(1023), QStringLiteral("1023 bytes"));
    EXPECT_EQ(PropertyViewController::sizeString(1048576), QStringLiteral("1.00 MB"));
    EXPECT_EQ(PropertyViewController::sizeString(3LL << 30), QStringLiteral("3.00 GB"));

    show({});
    EXPECT_FALSE(rowShown(Row::FileName));
    EXPECT_TRUE(inspector->labNoSelection()->isVisibleTo(inspector->view()));

    const KPItemDataPtr a = item({.title = QStringLiteral("Alpha"), .tags = {QStringLiteral("a"), QStringLiteral("b")},
                                  .authors = {QStringLiteral("Ann")}, .size = 1536, .label = 2, .rate = 4,
                                  .from = QStringLiteral("/home/u/scans/alpha.pdf")});
    const KPItemDataPtr b = item({.title = QStringLiteral("Beta"), .tags = {QStringLiteral("b"), QStringLiteral("c")},
                                  .authors = {QStringLiteral("Ann")}, .size = 1023, .label = 2, .rate = 1});
    const KPItemDataPtr c = item({.title = QStringLiteral("Gamma"), .authors = {QStringLiteral("Bo")}, .label = 0});

    show({a});
    EXPECT_FALSE(inspector->labNoSelection()->isVisibleTo(inspector->view()));
    EXPECT_EQ(inspector->labFileName()->title(), QStringLiteral("Alpha"));
    EXPECT_EQ(inspector->labSizeValue()->title(), QStringLiteral("1.50 KB"));
    EXPECT_EQ(inspector->labFromValue()->title(), QStringLiteral("/home/u/scans"));
    EXPECT_EQ(inspector->ratingViewValue()->rateValue(), 4);
    EXPECT_EQ(inspector->tagViewValue()->tokenValues(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(inspector->authorViewValue()->tokenValues(), QStringList{QStringLiteral("Ann")});
    inspector->labFromValue()->setIsLink(true);
    QTest::mouseClick(inspector->labFromValue(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(revealed, QStringList{QStringLiteral("/home/u/scans")});

    show({a, b});
    EXPECT_EQ(inspector->labFileName()->title(), QStringLiteral("2 documents selected"));
    EXPECT_EQ(inspector->labSizeValue()->title(), QStringLiteral("2.50 KB"));
    EXPECT_EQ(inspector->tagViewValue()->tokenValues(), QStringList{QStringLiteral("b")});
    EXPECT_EQ(inspector->sourceMutileValues(), QSet<QString>{QStringLiteral("b")});
    EXPECT_EQ(inspector->authorViewValue()->tokenValues(), QStringList{QStringLiteral("Ann")});
    EXPECT_EQ(inspector->flagViewValue()->property("flag").toInt(), 2);
    EXPECT_EQ(inspector->ratingViewValue()->rateValue(), 0);
    EXPECT_FALSE(inspector->labDateModifiedValue()->date().has_value());
    // The title of several documents is not edited.
    QTest::mouseClick(inspector->labFileName(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(inspector->labFileName()->isEditing());

    show({a, b, c});
    EXPECT_TRUE(inspector->tagViewValue()->tokenValues().isEmpty());
    EXPECT_TRUE(inspector->authorViewValue()->tokenValues().isEmpty());
    EXPECT_EQ(inspector->flagViewValue()->property("flag").toInt(), 0);

    const auto safe = KPSafeBoxItemData::create({{QStringLiteral("Path"), QStringLiteral("secret.pdf")},
                                                 {QStringLiteral("Size"), 2048}},
                                                testsupport::makeTempDir(QStringLiteral("box")));
    show({safe}, PropertyViewController::kSafeBoxViewType);
    for (Row hidden : {Row::Flag, Row::Rating, Row::Author, Row::Tag, Row::Description})
        EXPECT_FALSE(rowShown(hidden)) << int(hidden);
    EXPECT_TRUE(rowShown(Row::FolderName));
    EXPECT_EQ(inspector->folderNameViewValue()->title(), QStringLiteral("SafeBox"));
    EXPECT_EQ(inspector->labFromValue()->title(), QStringLiteral("SafeBox"));
    EXPECT_EQ(inspector->folderEditorPopMenu(inspector->folderNameViewValue()), nullptr);
    EXPECT_EQ(inspector->folderEditorPopMenu(inspector->flagViewValue()), nullptr);
}

// A Select All hands the inspector every listed document: it shows what they share without
// loading their display models, reading each value to the last document unless it already
// differs, and a model that is loaded answers with what it shows.
TEST_F(PropertyViewTest, ALargeSelectionShowsWhatItSharesWithoutLoadingItsModels)
{
    constexpr int kCount = 500;
    QList<KPItemDataPtr> items;
    for (int i = 0; i < kCount; ++i) {
        QStringList tags{QStringLiteral("shared"), QStringLiteral("own %1").arg(i)};
        if (i % 2)
            tags << QStringLiteral("odd");
        const DBFileInfo record = addDocument({.title = QStringLiteral("doc %1").arg(i), .tags = tags,
                                               .authors = {QStringLiteral("Ann")}, .size = 1024, .label = 3, .rate = 4});
        DBFileInfoMetadata(record.metadata()).setComment(QStringLiteral("same"));
        items.append(KPItemData::create(record));
    }
    const auto metadataOf = [&](int i) { return DBFileInfoMetadata(items[i]->data().metadata()); };
    const auto loaded = [&] {
        return std::count_if(items.begin(), items.end(), [](const KPItemDataPtr& it) { return it->bLoadedDataContent(); });
    };
    const auto flagShown = [&] { return inspector->flagViewValue()->property("flag").toInt(); };
    const auto rateShown = [&] { return inspector->ratingViewValue()->rateValue(); };

    show(items);
    EXPECT_EQ(inspector->labFileName()->title(), QStringLiteral("500 documents selected"));
    EXPECT_EQ(flagShown(), 3);
    EXPECT_EQ(rateShown(), 4);
    EXPECT_EQ(inspector->tagViewValue()->tokenValues(), QStringList{QStringLiteral("shared")});
    EXPECT_EQ(inspector->authorViewValue()->tokenValues(), QStringList{QStringLiteral("Ann")});
    EXPECT_EQ(inspector->descriptionViewValue()->stringValue(), QStringLiteral("same"));
    EXPECT_EQ(inspector->labSizeValue()->title(), PropertyViewController::sizeString(kCount * 1024LL));
    EXPECT_EQ(loaded(), 0);

    // Only the last document differs: every value is read to the end, the size after the tags
    // and the authors stopped being shared.
    metadataOf(kCount - 1).setLabel(5);
    metadataOf(kCount - 1).setRate(1);
    metadataOf(kCount - 1).setComment(QStringLiteral("other"));
    metadataOf(kCount - 1).setFileSize(4096);
    DBFileInfo(items[1]->data()).removeTagsObject(tagNamed(QStringLiteral("shared")));
    DBFileInfo(items[1]->data()).addAuthorsObject(authorNamed(QStringLiteral("Bo")));
    show(items);
    EXPECT_EQ(flagShown(), 0);
    EXPECT_EQ(inspector->flagViewValue()->title(), QStringLiteral("None"));
    EXPECT_EQ(rateShown(), 0);
    EXPECT_TRUE(inspector->tagViewValue()->tokenValues().isEmpty());
    EXPECT_TRUE(inspector->authorViewValue()->tokenValues().isEmpty());
    EXPECT_TRUE(inspector->descriptionViewValue()->stringValue().isEmpty());
    EXPECT_EQ(inspector->labSizeValue()->title(), PropertyViewController::sizeString((kCount - 1) * 1024LL + 4096));
    EXPECT_EQ(loaded(), 0);

    // A drawn model whose rating is being dragged shows its own value, not yet its record's.
    metadataOf(kCount - 1).setLabel(3);
    metadataOf(kCount - 1).setRate(4);
    items[7]->setRate(2);
    items[8]->setLabel(6);
    show(items);
    EXPECT_EQ(rateShown(), 0);
    EXPECT_EQ(flagShown(), 0);
    items[7]->setRate(4);
    items[8]->setLabel(3);
    metadataOf(7).setRate(1);
    metadataOf(8).setLabel(5);
    show(items);
    EXPECT_EQ(rateShown(), 4);
    EXPECT_EQ(flagShown(), 3);
    EXPECT_EQ(loaded(), 2);
}

TEST_F(PropertyViewTest, MoreTakesTheDetailsOutOfTheStackAndPutsThemBackSecond)
{
    show({item({.title = QStringLiteral("Alpha")})});
    auto* details = inspector->row(Row::FileNameContent);
    auto* folder = inspector->row(Row::FolderName);
    auto* title = inspector->row(Row::FileName);
    ASSERT_EQ(inspector->views().indexOf(details), 1);
    EXPECT_EQ(folder->y(), details->y() + details->height());
    inspector->onBtnMoreClick();
    EXPECT_FALSE(inspector->views().contains(details));
    EXPECT_TRUE(details->isHidden());
    EXPECT_EQ(folder->y(), title->y() + title->height());
    inspector->onBtnMoreClick();
    EXPECT_EQ(inspector->views().indexOf(details), 1);
    EXPECT_EQ(folder->y(), details->y() + details->height());

    // A long From path grows the details box and the rows below move with it.
    const int shortHeight = details->height();
    show({item({.title = QStringLiteral("Deep"), .from = QString(4000, QLatin1Char('x')) + QStringLiteral("/f.pdf")})});
    EXPECT_GT(details->height(), shortHeight);
    EXPECT_EQ(folder->y(), details->y() + details->height());
}

TEST_F(PropertyViewTest, OneDocumentsTagsAreReusedByNameWrittenAndStoredInTheFile)
{
    tagNamed(QStringLiteral("Work"));
    tagNamed(QStringLiteral("Resume"));
    tagNamed(QStringLiteral("cat"));
    const KPItemDataPtr a = item({.title = QStringLiteral("Alpha"), .tags = {QStringLiteral("Work")}});
    const QString path = DBHelper::CombinFileAbsolutePath(a->data());
    testsupport::writeFile(path, "pdf");
    show({a});

    editTags({QStringLiteral("résumé"), QStringLiteral("work")});
    EXPECT_EQ(namesOf(a->data()), (QStringList{QStringLiteral("Resume"), QStringLiteral("Work")}));
    EXPECT_FALSE(posted.contains(QStringLiteral("NewTagNotification")));
    QStringList written = fileTags(path);
    written.sort();
    EXPECT_EQ(written, (QStringList{QStringLiteral("Resume"), QStringLiteral("Work")}));
    EXPECT_EQ(a->tagObjects(), (QStringList{QStringLiteral("Resume"), QStringLiteral("Work")}));

    // A typed "c*" is a name, not a pattern.
    editTags({QStringLiteral("c*")});
    EXPECT_EQ(namesOf(a->data()), QStringList{QStringLiteral("c*")});
    EXPECT_EQ(posted.count(QStringLiteral("NewTagNotification")), 1);
    EXPECT_FALSE(posted.contains(QStringLiteral("RefreshItemCountNotification")));

    editTags({});
    EXPECT_TRUE(namesOf(a->data()).isEmpty());
    EXPECT_EQ(fileTags(path), QStringList());
    // Blank names are not tags.
    editTags({QStringLiteral("  ")});
    EXPECT_TRUE(namesOf(a->data()).isEmpty());
}

TEST_F(PropertyViewTest, SeveralDocumentsKeepTheTagsAndAuthorsOnlySomeOfThemCarry)
{
    const KPItemDataPtr a = item({.title = QStringLiteral("A"), .tags = {QStringLiteral("a"), QStringLiteral("b")},
                                  .authors = {QStringLiteral("Ann"), QStringLiteral("Cy")}});
    const KPItemDataPtr b = item({.title = QStringLiteral("B"), .tags = {QStringLiteral("b"), QStringLiteral("c")},
                                  .authors = {QStringLiteral("Bo")}});
    show({a, b});
    EXPECT_TRUE(inspector->authorViewValue()->tokenValues().isEmpty());

    editTags({QStringLiteral("b"), QStringLiteral("d")});
    EXPECT_EQ(namesOf(a->data()), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("d")}));
    EXPECT_EQ(namesOf(b->data()), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    EXPECT_EQ(posted.count(QStringLiteral("RefreshItemCountNotification")), 1);
    editTags({QStringLiteral("d")});
    EXPECT_EQ(namesOf(a->data()), (QStringList{QStringLiteral("a"), QStringLiteral("d")}));
    EXPECT_EQ(namesOf(b->data()), (QStringList{QStringLiteral("c"), QStringLiteral("d")}));
    EXPECT_EQ(posted.count(QStringLiteral("RefreshItemCountNotification")), 2);

    // The author field over differing authors is empty: adding one takes nothing away.
    authorNamed(QStringLiteral("Dee")).setIsTrash(true);
    editAuthors({QStringLiteral("Dee")});
    auto authorsOf = [](const DBFileInfo& r) {
        QStringList names;
        for (const DBAuthor& x : r.authors())
            names << x.name() + (x.isTrash() ? QStringLiteral("(trash)") : QString());
        names.sort();
        return names;
    };
    EXPECT_EQ(authorsOf(a->data()), (QStringList{QStringLiteral("Ann"), QStringLiteral("Cy"), QStringLiteral("Dee")}));
    EXPECT_EQ(authorsOf(b->data()), (QStringList{QStringLiteral("Bo"), QStringLiteral("Dee")}));
    editAuthors({});
    EXPECT_EQ(authorsOf(a->data()), (QStringList{QStringLiteral("Ann"), QStringLiteral("Cy")}));

    // One document reuses the author in the trash.
    authorNamed(QStringLiteral("Eve")).setIsTrash(true);
    show({b});
    editAuthors({QStringLiteral("Bo"), QStringLiteral("eve")});
    EXPECT_EQ(authorsOf(b->data()), (QStringList{QStringLiteral("Bo"), QStringLiteral("Eve(trash)")}));
}

TEST_F(PropertyViewTest, TheDescriptionIsWrittenOnlyWhenTyped)
{
    const KPItemDataPtr a = item({.title = QStringLiteral("A")});
    const KPItemDataPtr b = item({.title = QStringLiteral("B")});
    a->data().metadata().setComment(QStringLiteral("first"));
    b->data().metadata().setComment(QStringLiteral("second"));
    show({a, b});
    EXPECT_TRUE(inspector->descriptionViewValue()->stringValue().isEmpty());
    inspector->onTextEditorViewTextDidDone();
    EXPECT_EQ(a->data().metadata().comment(), QStringLiteral("first"));
    EXPECT_EQ(b->data().metadata().comment(), QStringLiteral("second"));

    QPlainTextEdit* text = inspector->descriptionViewValue()->textView();
    QTest::keyClicks(text, QStringLiteral("  "));
    QTest::keyClick(text, Qt::Key_Return);
    QTest::keyClicks(text, QStringLiteral(" "));
    inspector->onTextEditorViewTextDidDone();
    EXPECT_EQ(a->data().metadata().comment(), QString());
    EXPECT_EQ(b->data().metadata().comment(), QString());
}

TEST_F(PropertyViewTest, ADateIsWrittenToTheFileFirstAndTheFieldShowsWhatIsStored)
{
    const QDateTime stored = QDateTime(QDate(2013, 3, 7), QTime(21, 5), Qt::UTC);
    const KPItemDataPtr a = item({.title = QStringLiteral("A"), .created = stored, .modified = stored});
    show({a});
    KPDateTextFiledExtend* modified = inspector->labDateModifiedValue();
    const QDateTime picked = stored.addDays(3);
    auto report = [&](KPDateTextFiledExtend* field, bool isChange, const QDateTime& date) {
        inspector->onDateTextFiledExtendChange({{QStringLiteral("Self"), QVariant::fromValue<QObject*>(field)},
                                                {QStringLiteral("IsChange"), isChange},
                                                {QStringLiteral("DateValue"), date}});
    };
    report(modified, false, picked);   // Escape
    EXPECT_EQ(a->data().metadata().dateModified(), stored);
    EXPECT_TRUE(dated.isEmpty());
    writableDates = false;             // the file refuses
    report(modified, true, picked);
    EXPECT_EQ(a->data().metadata().dateModified(), stored);
    EXPECT_EQ(modified->date(), stored);
    writableDates = true;
    report(modified, true, picked);
    EXPECT_EQ(a->data().metadata().dateModified(), picked);
    EXPECT_EQ(modified->date(), picked);
    EXPECT_EQ(dated.last(), DBHelper::CombinFileAbsolutePath(a->data()));
    EXPECT_EQ(inspector->modifitedViewValue()->title(), QStringLiteral("3/10/2013"));

    // The creation date cannot be changed here: its field never opens.
    EXPECT_TRUE(inspector->labDateCreateValue()->isReadOnly());
    const int before = dated.size();
    report(inspector->labDateCreateValue(), true, picked);
    EXPECT_EQ(a->data().metadata().dateCreated(), stored);
    EXPECT_EQ(dated.size(), before);

    // Several documents: no date is written.
    show({a, item({.title = QStringLiteral("B")})});
    report(modified, true, picked.addDays(1));
    EXPECT_EQ(a->data().metadata().dateModified(), picked);
}

TEST_F(PropertyViewTest, TheRealFileGetsTheModificationDate)
{
    PropertyViewServices services;
    services.engine = engine.get();
    services.notifications = &center;
    inspector = std::make_unique<PropertyViewController>(services);
    const KPItemDataPtr a = item({.title = QStringLiteral("A"), .modified = QDateTime::currentDateTimeUtc()});
    const QString path = DBHelper::CombinFileAbsolutePath(a->data());
    testsupport::writeFile(path, "pdf");
    show({a});
    const QDateTime picked(QDate(2011, 1, 2), QTime(3, 4), Qt::UTC);
    inspector->onDateTextFiledExtendChange({{QStringLiteral("Self"), QVariant::fromValue<QObject*>(inspector->labDateModifiedValue())},
                                            {QStringLiteral("IsChange"), true},
                                            {QStringLiteral("DateValue"), picked}});
    EXPECT_EQ(QFileInfo(path).lastModified().toUTC(), picked);
    EXPECT_EQ(a->data().metadata().dateModified(), picked);
}

// A tag or author typed and left without Return is kept: Tab or a click on another control
// stores it as Return would.
TEST_F(PropertyViewTest, ATagOrAuthorTypedAndLeftIsStored)
{
    QWidget window;
    window.resize(300, 760);
    inspector->view()->setParent(&window);
    const auto release = qScopeGuard([&] { inspector->view()->setParent(nullptr); });
    auto* elsewhere = new QLineEdit(&window);
    elsewhere->setGeometry(0, 730, 200, 24);
    const KPItemDataPtr a = item({.title = QStringLiteral("A")});
    show({a});
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QWidget* tags = inspector->tagViewValue()->textView();
    tags->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(tags, QStringLiteral("urgent"));
    QTest::keyClick(tags, Qt::Key_Tab);
    EXPECT_FALSE(tags->hasFocus());
    EXPECT_EQ(namesOf(a->data()), QStringList{QStringLiteral("urgent")});
    EXPECT_EQ(inspector->tagViewValue()->tokenValues(), QStringList{QStringLiteral("urgent")});

    QWidget* authors = inspector->authorViewValue()->textView();
    authors->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(authors, QStringLiteral("Smith, John"));   // the comma commits "Smith"
    QTest::mouseClick(elsewhere, Qt::LeftButton, {}, QPoint(5, 5));
    QStringList names;
    for (const DBAuthor& author : a->data().authors())
        names << author.name();
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("John"), QStringLiteral("Smith")}));
}

TEST_F(PropertyViewTest, TheCompletionListIsTheApplicationsAndEndsOnAPressElsewhere)
{
    tagNamed(QStringLiteral("Resume"));
    QWidget window;
    window.resize(300, 700);
    inspector->view()->setParent(&window);
    show({item({.title = QStringLiteral("A")})});
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClicks(inspector->tagViewValue()->textView(), QStringLiteral("re"));
    AutoCompletedWindow* list = inspector->autoCompletedWindow();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(KPApp::sharedApplication()->autoCompletedWindow(), list);
    EXPECT_EQ(list->parentWidget(), &window);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(5, 690));
    ASSERT_TRUE(testsupport::spinUntil([&] { return inspector->autoCompletedWindow() == nullptr; }));
    EXPECT_EQ(KPApp::sharedApplication()->autoCompletedWindow(), nullptr);
    inspector->view()->setParent(nullptr);
}

} // namespace

namespace {

// The pane as the user sees it, one document shown, written next to the test program for a
// person to look at; the rows must have drawn their texts.
TEST_F(PropertyViewTest, ThePaneDrawsOneDocument)
{
    const QDateTime when = QDateTime(QDate(2013, 3, 7), QTime(21, 5), Qt::LocalTime).toUTC();
    show({item({.title = QStringLiteral("Annual report 2013"), .tags = {QStringLiteral("work"), QStringLiteral("2013")},
                .authors = {QStringLiteral("Ann Smith")}, .size = 1536, .created = when, .modified = when,
                .lastOpened = when, .label = 2, .rate = 3,
                .from = QStringLiteral("/home/user/Documents/Projects/Annual reports/2013/final.pdf")})});
    QWidget* view = inspector->view();
    view->resize(280, 620);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    const QImage image = view->grab().toImage();
    EXPECT_TRUE(image.save(QDir(QStringLiteral(QT_TESTCASE_BUILDDIR)).filePath(QStringLiteral("inspector-pane.png"))));
    const QColor background = image.pixelColor(image.width() - 2, image.height() - 2);
    const QRect title = inspector->labFileName()->geometry().translated(inspector->row(Row::FileName)->pos());
    bool inked = false;
    const qreal dpr = image.devicePixelRatio();
    for (int y = title.top(); y < title.bottom() && !inked; ++y)
        for (int x = title.left(); x < title.left() + 60 && !inked; ++x)
            inked = image.pixelColor(int(x * dpr), int(y * dpr)) != background;
    EXPECT_TRUE(inked);

    // The From caption stands on the line of the first line of its wrapped path: their ink starts
    // on the same row (the caption is a point smaller, so within two pixels).
    auto firstInkRow = [&](QWidget* label, qreal height) {
        const QRect r(label->mapTo(view, QPoint(0, 0)) * dpr, QSize(int(label->width() * dpr), int(height * dpr)));
        const QColor ground = image.pixelColor(r.left() + 1, r.top() + 1);
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (themecontrast::contrastRatio(image.pixelColor(x, y), ground) > 2)
                    return y;
        return -1;
    };
    const qreal line = QFontMetricsF(inspector->labFromValue()->textStyle().font).height();
    const int caption = firstInkRow(inspector->labFrom(), inspector->labFrom()->height());
    const int path = firstInkRow(inspector->labFromValue(), line);
    ASSERT_GE(caption, 0);
    ASSERT_GE(path, 0);
    EXPECT_LE(std::abs(caption - path), 2 * dpr) << "caption ink from row " << caption << ", path from " << path;
}

} // namespace

namespace {

// The title label shows what the owner stored: a rename it refuses leaves the old title, and
// what was typed comes back into the field when the owner hands it back.
TEST_F(PropertyViewTest, ARefusedTitleEditShowsTheStoredTitle)
{
    const KPItemDataPtr a = item({.title = QStringLiteral("Alpha")});
    QStringList asked;
    bool accept = false;
    PropertyViewControllerDelegate delegate;
    delegate.onTitleChange = [&](PropertyViewController*, const KPItemDataPtr&, const QString& title) {
        asked << title;
        if (accept)
            a->setTitle(title);
    };
    inspector->setDelegate(delegate);
    show({a});
    QWidget window;
    inspector->view()->setParent(&window);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    KPCoustomStyleLabel* title = inspector->labFileName();
    auto rename = [&](const QString& to) {
        QTest::mouseClick(title, Qt::LeftButton, {}, QPoint(20, 10));
        ASSERT_TRUE(title->isEditing());
        title->editField()->setText(to);
        QTest::keyClick(title->editField(), Qt::Key_Return);
    };
    rename(QStringLiteral("Taken"));
    EXPECT_EQ(asked, QStringList{QStringLiteral("Taken")});
    EXPECT_EQ(title->title(), QStringLiteral("Alpha"));

    // The owner hands the refused text back: the field opens on it for correcting. Left as it
    // is, focus moving away does not send it again; corrected, Return sends the correction.
    inspector->editTitleAgain(item({.title = QStringLiteral("Other")}), QStringLiteral(".hidden"));
    EXPECT_FALSE(title->isEditing()) << "only for the document shown";
    inspector->editTitleAgain(a, QStringLiteral(".hidden"));
    ASSERT_TRUE(title->isEditing());
    EXPECT_EQ(title->editField()->text(), QStringLiteral(".hidden"));
    EXPECT_TRUE(title->editField()->hasFocus());
    QWidget elsewhere(&window);
    elsewhere.setFocusPolicy(Qt::StrongFocus);
    elsewhere.show();
    elsewhere.setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(title->isEditing());
    EXPECT_EQ(asked, QStringList{QStringLiteral("Taken")});
    inspector->editTitleAgain(a, QStringLiteral(".hidden"));
    ASSERT_TRUE(title->isEditing());
    title->editField()->setText(QStringLiteral("hidden"));
    QTest::keyClick(title->editField(), Qt::Key_Return);
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Taken"), QStringLiteral("hidden")}));

    accept = true;
    rename(QStringLiteral("Beta"));
    EXPECT_EQ(title->title(), QStringLiteral("Beta"));
    inspector->view()->setParent(nullptr);
}

} // namespace

namespace {

// A tag added to several documents and taken off again: the field over the selection follows
// each edit, so the second edit sees the tag it has to remove.
TEST_F(PropertyViewTest, ATagAddedToSeveralDocumentsIsTakenOffAgain)
{
    const KPItemDataPtr a = item({.title = QStringLiteral("A"), .tags = {QStringLiteral("a"), QStringLiteral("b")}});
    const KPItemDataPtr b = item({.title = QStringLiteral("B"), .tags = {QStringLiteral("b"), QStringLiteral("c")}});
    show({a, b});
    auto shownTags = [&] {
        QStringList names = inspector->tagViewValue()->tokenValues();
        names.sort();
        return names;
    };
    ASSERT_EQ(shownTags(), QStringList{QStringLiteral("b")});

    editTags({QStringLiteral("b"), QStringLiteral("d")});
    EXPECT_EQ(namesOf(a->data()), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("d")}));
    EXPECT_EQ(namesOf(b->data()), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}));
    EXPECT_EQ(shownTags(), (QStringList{QStringLiteral("b"), QStringLiteral("d")}));

    editTags({QStringLiteral("b")});
    EXPECT_EQ(namesOf(a->data()), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(namesOf(b->data()), (QStringList{QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(shownTags(), QStringList{QStringLiteral("b")});
    show({a, b});
    EXPECT_EQ(shownTags(), QStringList{QStringLiteral("b")});
}

// The growing rows hold what they show: many tags, a long description and a long From path
// each get a row tall enough for every line, inside the row, and the rows below move down.
TEST_F(PropertyViewTest, GrowingRowsFitTheirWholeContent)
{
    QStringList tags;
    for (int i = 0; i < 24; ++i)
        tags << QStringLiteral("project-%1-archive").arg(i);
    const QString from = QStringLiteral("/home/user/") + QString(600, QLatin1Char('p')) + QStringLiteral("/last-part.pdf");
    QWidget* view = inspector->view();
    view->resize(280, 2000);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    show({item({.title = QStringLiteral("Tagged"), .tags = tags, .from = from})});

    auto* field = inspector->tagViewValue();
    KPCoustomDrawBGView* tagRow = inspector->row(Row::Tag);
    const qreal content = field->textSize().height();
    ASSERT_GT(content, 3 * 23) << "two dozen tags take several lines";
    EXPECT_GE(field->height(), std::ceil(content) - 0.5);
    EXPECT_TRUE(QRect(QPoint(0, 0), tagRow->size()).contains(field->geometry())) << "the field lies inside its row";
    EXPECT_EQ(inspector->row(Row::Description)->y(), tagRow->y() + tagRow->height());

    // Fewer tags: the row shrinks back to one line.
    const int tall = tagRow->height();
    editTags({QStringLiteral("one")});
    inspector->updateUISizeByControl(field);
    EXPECT_LT(tagRow->height(), tall);
    EXPECT_GE(field->height(), field->textSize().height() - 0.5);

    // The From path wraps anywhere in its column: every line of it fits the label.
    KPWrapStyleLabel* path = inspector->labFromValue();
    const QFontMetricsF metrics(path->textStyle().font);
    const qreal needed = metrics.boundingRect(QRectF(0, 0, path->width(), 1e6), Qt::TextWrapAnywhere, from).height();
    EXPECT_GE(path->height(), needed - 1) << "path label " << path->height() << " for " << needed;
    EXPECT_GE(path->y(), 0) << "the path's first line is not cut off at the top of its row";
    view->hide();
}

// The flag menu offers None and each flag by its name; every item sets the flag it names.
TEST_F(PropertyViewTest, EachFlagMenuItemSetsTheFlagItNames)
{
    QFile::copy(platform::Bundle::mainBundle().pathForResource(QStringLiteral("FlagConfig"), QStringLiteral("plist")),
                library + QStringLiteral("/flagconfig.plist"));
    resetFlagNameCacheForTesting();
    const KPItemDataPtr a = item({.title = QStringLiteral("Flagged")});
    QList<int> asked;
    PropertyViewControllerDelegate delegate;
    delegate.onFlagChange = [&](PropertyViewController*, int flag) { asked << flag; };
    inspector->setDelegate(delegate);
    show({a});

    std::unique_ptr<QMenu> menu(inspector->folderEditorPopMenu(inspector->flagViewValue()));
    ASSERT_TRUE(menu);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 8);
    EXPECT_EQ(actions.first()->text(), QStringLiteral("None"));
    QSet<QString> names;
    for (QAction* action : actions) {
        names.insert(action->text());
        action->trigger();
        ASSERT_FALSE(asked.isEmpty());
        const int flag = asked.last();
        EXPECT_EQ(flag == 0 ? QStringLiteral("None") : flagNameForIndex(flag), action->text()) << "flag " << flag;
        EXPECT_EQ(inspector->flagViewValue()->title(), action->text());
        EXPECT_EQ(inspector->flagViewValue()->property("flag").toInt(), flag);
    }
    EXPECT_EQ(names.size(), 8) << "every item names another flag";
    EXPECT_EQ(QSet<int>(asked.begin(), asked.end()), (QSet<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    resetFlagNameCacheForTesting();
}

} // namespace
