// The document inspector: the right-hand pane that shows the metadata of the documents
// selected in the grid (none, one, several, or SafeBox files) and lets the user change it.
// Title, folder, flag and rating changes go to the owner; tags, authors, the description and
// the file dates are written here, into the store and (tags) into the files. An edit never
// touches what the user did not change: in a multi-selection tags and authors are diffed
// against what the fields showed, and the description is written only when it was typed in.
//
// The pane's rows are stacked from the top in a fixed order; the details box leaves and
// re-enters the stack through the More button. Main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Theme/KPThemeBaseObjectProtocol.h"

#include <QImage>
#include <QMap>
#include <QPointer>
#include <QSet>
#include <QVariantMap>
#include <functional>
#include <memory>

class AutoCompletedViewController;
class AutoCompletedWindow;
class DBNode;
class DataBaseEngine;
class KPCollectionView;
class KPCoustomDrawBGView;
class KPCoustomStyleLabel;
class KPDBFolderEditor;
class KPDateTextFiledExtend;
class KPRatingView;
class KPTextEditorView;
class KPThemeImageButton;
class KPTokenEditorView;
class KPWrapStyleLabel;
class PropertyViewController;
class QMenu;
class QWidget;

// Every member optional.
struct PropertyViewControllerDelegate {
    // The title typed for item, the one document that was shown while it was edited.
    std::function<void(PropertyViewController*, const KPItemDataPtr& item, const QString& title)> onTitleChange;
    std::function<void(PropertyViewController*, const DBNode& folder)> onFolderChange;
    std::function<void(PropertyViewController*, int flag)> onFlagChange;
    std::function<void(PropertyViewController*, qint64 rate)> onRateChange;
    // Fills the empty menu; picking a folder calls action with it.
    std::function<void(PropertyViewController*, QMenu* menu, const std::function<void(const DBNode&)>& action)>
        onFolderNameMenu;
};

// Services the inspector works with; tests hand in their own.
struct PropertyViewServices {
    DataBaseEngine* engine = nullptr;                    // null: the shared one
    platform::NotificationCenter* notifications = nullptr;   // null: the default center
    std::function<bool(const QDateTime&, const QString& path)> setFileCreationDate;
    std::function<bool(const QDateTime&, const QString& path)> setFileModificationDate;
    std::function<void(const QString& path)> selectInFileViewer;
    // Whether the file system lets the creation date be set (not on Linux).
    bool canSetCreationDate = false;
};

class PropertyViewController : public KPThemeBaseObjectProtocol {
public:
    static constexpr int kWidth = 280;
    static constexpr int kSafeBoxViewType = 6;
    static inline const QString kTitleKey = QStringLiteral("%ld documentes selected");
    static inline const QString kNewTagNotification = QStringLiteral("NewTagNotification");
    static inline const QString kRefreshItemCountNotification = QStringLiteral("RefreshItemCountNotification");
    static inline const QString kAutoCompletedWindowResign = QStringLiteral("AutoCompletedWindowResign");
    // The flag order of the menu and the icon table.
    static inline const QList<int> kFlagOrder{6, 7, 5, 2, 4, 3, 1};

    using Services = PropertyViewServices;

    explicit PropertyViewController(Services services = {});
    ~PropertyViewController() override;
    PropertyViewController(const PropertyViewController&) = delete;
    PropertyViewController& operator=(const PropertyViewController&) = delete;

    // The pane, kWidth wide; whoever puts it into a window owns it.
    QWidget* view() const;
    void setDelegate(PropertyViewControllerDelegate delegate) { m_delegate = std::move(delegate); }
    void setCollectionView(KPCollectionView* view) { m_collectionView = view; }
    KPCollectionView* collectionView() const { return m_collectionView; }

    // The selection to show next (the owner then calls refreshDatas).
    void showItemDatas(const QList<KPItemDataPtr>& items, int viewType);
    void refreshDatas();
    void layoutViews();
    void onBtnMoreClick();
    // Opens the title for editing again on text, a title the owner refused for item, while the
    // pane still shows item alone.
    void editTitleAgain(const KPItemDataPtr& item, const QString& text);
    void themeUpdateWithName(const QString& themeName) override;

    const QList<KPItemDataPtr>& cacheDatas() const { return m_cacheDatas; }
    int viewType() const { return m_viewType; }
    const QSet<QString>& sourceMutileValues() const { return m_sourceMutileValues; }

    // ---- the rows and their controls (tests read them) ----
    enum Row { FileName, FileNameContent, FolderName, Modified, Flag, Rating, Author, Tag, Description };
    KPCoustomDrawBGView* row(Row row) const { return m_rows.value(row); }
    // The rows in stacking order (the details box only while open).
    QList<KPCoustomDrawBGView*> views() const { return m_views; }
    KPCoustomStyleLabel* labFileName() const { return m_labFileName; }
    KPThemeImageButton* btnMore() const { return m_btnMore; }
    KPCoustomStyleLabel* labFileTypeValue() const { return m_labFileTypeValue; }
    KPCoustomStyleLabel* labSizeValue() const { return m_labSizeValue; }
    KPDateTextFiledExtend* labDateCreateValue() const { return m_labDateCreateValue; }
    KPDateTextFiledExtend* labDateModifiedValue() const { return m_labDateModifiedValue; }
    KPCoustomStyleLabel* labLastOpenValue() const { return m_labLastOpenValue; }
    KPCoustomStyleLabel* labFrom() const { return m_labFrom; }
    KPWrapStyleLabel* labFromValue() const { return m_labFromValue; }
    KPDBFolderEditor* folderNameViewValue() const { return m_folderNameViewValue; }
    KPCoustomStyleLabel* modifitedViewValue() const { return m_modifitedViewValue; }
    KPDBFolderEditor* flagViewValue() const { return m_flagViewValue; }
    KPRatingView* ratingViewValue() const { return m_ratingViewValue; }
    KPTokenEditorView* authorViewValue() const { return m_authorViewValue; }
    KPTokenEditorView* tagViewValue() const { return m_tagViewValue; }
    KPTextEditorView* descriptionViewValue() const { return m_descriptionViewValue; }
    KPCoustomStyleLabel* labNoSelection() const { return m_labNoSelection; }
    QWidget* imgNoSelectionView() const { return m_imgNoSelectionView; }
    // The completion list while it is open.
    AutoCompletedWindow* autoCompletedWindow() const;

    // ---- actions of the controls ----
    // The menu of a pop-up (null in SafeBox mode); the caller owns it.
    QMenu* folderEditorPopMenu(KPDBFolderEditor* editor);
    void onFlagClick(int flag);
    void onFolderNameClick(const DBNode& folder);
    void onLabFromClick();
    void onDateTextFiledExtendChange(const QVariantMap& info);
    void onTextEditorViewTextDidDone();
    void onTokenEditorViewTextDidChange(KPTokenEditorView* field);
    void updateUISizeByControl(QWidget* control);

    // ---- the store writes ----
    // One document's tags or authors set to names; whether anything changed.
    bool updateTagObjectToFileInfo(const QStringList& names, DBFileInfo& record);
    bool updateAuthorsObjectToFileInfo(const QStringList& names, DBFileInfo& record);

    static QString sizeString(qint64 bytes);
    // The From area's height for a text (0 for none).
    static qreal titieSizeFrorString(const QString& text);
    static QImage flagIcon(int flag);

private:
    void buildViews();
    void drawBackground(KPCoustomDrawBGView* view, QPainter& painter);
    void applyFromText(const QString& text);
    void setFlagValue(int flag);
    void refreshModifiedDay(const QDateTime& date);
    void editMultiTags(const QStringList& names);
    void editMultiAuthors(const QStringList& names);
    void editDate(KPDateTextFiledExtend* field, const QVariantMap& info);
    std::optional<QString> onPartValueChange(KPTokenEditorView* field, const std::optional<QString>& text);
    void closeCompletion();
    void redrawSelectedItems(bool lastOnly);
    DataBaseEngine& engine() const;
    platform::NotificationCenter& notifications() const;

    Services m_services;
    PropertyViewControllerDelegate m_delegate;
    QPointer<KPCoustomDrawBGView> m_view;
    KPCollectionView* m_collectionView = nullptr;
    QList<KPItemDataPtr> m_cacheDatas;
    int m_viewType = 0;
    QSet<QString> m_sourceMutileValues;
    QStringList m_sourceAuthors;
    bool m_detailsOpen = true;

    QMap<Row, KPCoustomDrawBGView*> m_rows;
    QList<KPCoustomDrawBGView*> m_views;
    KPCoustomDrawBGView* m_fileNameContentTopView = nullptr;
    KPCoustomStyleLabel* m_labFileName = nullptr;
    KPThemeImageButton* m_btnMore = nullptr;
    KPCoustomStyleLabel* m_labFileTypeValue = nullptr;
    KPCoustomStyleLabel* m_labSizeValue = nullptr;
    KPDateTextFiledExtend* m_labDateCreateValue = nullptr;
    KPDateTextFiledExtend* m_labDateModifiedValue = nullptr;
    KPCoustomStyleLabel* m_labLastOpenValue = nullptr;
    KPCoustomStyleLabel* m_labFrom = nullptr;
    KPWrapStyleLabel* m_labFromValue = nullptr;
    KPDBFolderEditor* m_folderNameViewValue = nullptr;
    KPCoustomStyleLabel* m_modifitedViewValue = nullptr;
    KPDBFolderEditor* m_flagViewValue = nullptr;
    KPRatingView* m_ratingViewValue = nullptr;
    KPTokenEditorView* m_authorViewValue = nullptr;
    KPTokenEditorView* m_tagViewValue = nullptr;
    KPTextEditorView* m_descriptionViewValue = nullptr;
    KPCoustomStyleLabel* m_labNoSelection = nullptr;
    QWidget* m_imgNoSelectionView = nullptr;

    std::unique_ptr<AutoCompletedViewController> m_tagAutoCompletedVC;
    std::unique_ptr<AutoCompletedViewController> m_authorAutoCompletedVC;
    QPointer<AutoCompletedWindow> m_autoWindow;
    platform::ObserverToken m_resignObserver;
};
