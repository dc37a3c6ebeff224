// The display settings of the grid: icon or list mode, what the grid shows (the item view type),
// the item scale, which captions the document items show, and the item sizes derived from them.
//
// One instance for the run, reached by instance() (made on first use; a second one cannot be
// made); tests start afresh with resetForTesting(). The scale and the display mode come from the
// user defaults and are written back only by saveSettingToDisk() (at quit); the caption flags
// are written by the view-setting menu command and the preferences, which then call
// reloadViewSetting(). The item view type starts at 0 on every launch.
//
// "DisplayModeChange" (object nil) is posted on the default notification center when the
// display mode really changes. A change of the item view type shows or hides the items of the
// Document menu through the hook the application menu installs (setDocumentMenuHook); the menu
// asks isDocumentMenuItemVisible for each of its items.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemViewType.h"

#include <QSizeF>
#include <QString>
#include <functional>

class KPViewSizeManager {
public:
    static inline const QString kDisplayModeChangeNotification = QStringLiteral("DisplayModeChange");
    static inline const QString kItemScaleKey = QStringLiteral("Int_ViewItemScale");
    static inline const QString kDisplayModeKey = QStringLiteral("Int_DisplayMode");
    static inline const QString kShowTitleKey = QStringLiteral("Bool_IsShowTitle");
    static inline const QString kShowRatingKey = QStringLiteral("Bool_IsShowRating");
    static inline const QString kShowTagsKey = QStringLiteral("Bool_IsShowTags");
    static inline const QString kShowExtensionKey = QStringLiteral("Bool_IsShowExtension");
    static constexpr double kMinItemScale = 25;
    static constexpr double kMaxItemScale = 100;

    static KPViewSizeManager& instance();
    static KPViewSizeManager& viewSizeManager() { return instance(); }
    // Drops the instance; the next instance() reads the user defaults again. References to the
    // old instance must be gone.
    static void resetForTesting();

    KPViewSizeManager(const KPViewSizeManager&) = delete;
    KPViewSizeManager& operator=(const KPViewSizeManager&) = delete;
    ~KPViewSizeManager();

    // Rereads the four caption flags.
    void reloadViewSetting();
    // Writes "Int_DisplayMode" and "Int_ViewItemScale" (the whole part of the scale).
    void saveSettingToDisk() const;

    double itemScale() const { return m_itemScale; }
    // Clamped to 25-100.
    void setItemScale(double scale);
    KPDisplayMode displayMode() const { return m_displayMode; }
    // Posts "DisplayModeChange" when mode differs from the current one.
    void setDisplayMode(KPDisplayMode mode);
    bool isListMode() const { return m_displayMode == KPDisplayModeList; }
    KPItemViewType itemViewType() const { return m_itemViewType; }
    // Calls the Document menu hook when type differs from the current one.
    void setItemViewType(KPItemViewType type);

    bool isShowTitle() const { return m_isShowTitle; }
    void setIsShowTitle(bool show) { m_isShowTitle = show; }
    bool isShowRating() const { return m_isShowRating; }
    void setIsShowRating(bool show) { m_isShowRating = show; }
    bool isShowTags() const { return m_isShowTags; }
    void setIsShowTags(bool show) { m_isShowTags = show; }
    bool isShowExtension() const { return m_isShowExtension; }
    void setIsShowExtension(bool show) { m_isShowExtension = show; }

    // The base edge s = round(scale / 100 × 512), halves away from zero.
    int baseEdge() const;
    // The size of one item view.
    QSizeF itemSize() const;
    // The thumbnail area inside a document item view.
    QSizeF itemImageSize() const;
    // The top margin of a section's items in icon mode: 20 month tiles, 25 flag tiles, else 10.
    double marginMaxY() const;

    // Called with the new item view type after each change of it; the application menu applies
    // isDocumentMenuItemVisible to its Document menu.
    using DocumentMenuHook = std::function<void(KPItemViewType type)>;
    void setDocumentMenuHook(DocumentMenuHook hook) { m_documentMenuHook = std::move(hook); }
    // Every item shows, except that SafeBox files show only the items tagged 1 to 6.
    static bool isDocumentMenuItemVisible(KPItemViewType type, int itemTag);

private:
    KPViewSizeManager();

    double m_itemScale = 40;
    KPDisplayMode m_displayMode = KPDisplayModeIcon;
    KPItemViewType m_itemViewType = KPItemViewTypeDocuments;
    bool m_isShowTitle = true;
    bool m_isShowRating = true;
    bool m_isShowTags = true;
    bool m_isShowExtension = false;
    DocumentMenuHook m_documentMenuHook;
};
