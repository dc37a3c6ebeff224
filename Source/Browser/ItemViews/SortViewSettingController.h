// The content of the view-options popover (200 × 300): icon and list buttons, the section-order
// button, the file ascending and descending buttons, and the list of sort keys. Changes go
// straight to the shared settings and are announced: "SortSettingViewModeChange" when the
// display mode changes, "SectionSortChange" on every press of the section-order button (the
// main window flips the order), "FileSortSettingChange" when the file order or key changes.
// A new controller is made for each showing.
#pragma once

#include <QWidget>

class KPCoustomDrawBGView;
class KPMultiSprite;
class QPainter;
class SortListView;

class SortViewSettingController;
// Builds the popover's view into the controller's outlets.
void buildSortViewSetting(SortViewSettingController& controller);

class SortViewSettingController {
public:
    static inline const QString kViewModeChange = QStringLiteral("SortSettingViewModeChange");
    static inline const QString kSectionSortChange = QStringLiteral("SectionSortChange");
    static inline const QString kFileSortSettingChange = QStringLiteral("FileSortSettingChange");
    static constexpr int kWidth = 200;
    static constexpr int kHeight = 300;

    SortViewSettingController();
    ~SortViewSettingController();
    SortViewSettingController(const SortViewSettingController&) = delete;
    SortViewSettingController& operator=(const SortViewSettingController&) = delete;

    // Owned by the controller until a popover takes it (takeView).
    QWidget* view() const { return m_view; }
    QWidget* takeView();

    // Outlets.
    SortListView* sortListView = nullptr;
    KPCoustomDrawBGView* btnIconView = nullptr;
    KPCoustomDrawBGView* btnListView = nullptr;
    KPCoustomDrawBGView* btnSectionSort = nullptr;
    KPCoustomDrawBGView* btnFileAscending = nullptr;
    KPCoustomDrawBGView* btnFileDescending = nullptr;

    // The picture a button shows now (the "pressed" one is the Down sprite).
    QImage buttonImage(const KPCoustomDrawBGView* button) const;

private:
    friend void buildSortViewSetting(SortViewSettingController& controller);
    void awakeFromNib();
    void onDrawBG(QPainter& painter, const QRectF& rect);
    void onIconViewEventHandle(QEvent* event);
    void onListViewEventHandle(QEvent* event);
    void onSectionSortEventHandle(QEvent* event);
    void onFileAEventHandle(QEvent* event);
    void onFileDEventHandle(QEvent* event);

    QWidget* m_view = nullptr;
    bool m_ownsView = true;
};
