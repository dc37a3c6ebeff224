// How the window answers the grid's gestures and the notifications of its views: the zoom
// gesture and Ctrl+wheel change the item size (thumbnails are refreshed once, 0.3 s after the
// last step), a click on a month, flag, kind or author tile slides in that group's documents,
// the hover toolbar's Info, Preview and Show-in-folder buttons, and a double click on a section
// header selecting the section.
//
// The kind tile finds its documents by a store query that takes the kind's extensions as an
// argument, so an extension holding quotes or wildcards matches only itself. The author tile
// leaves out documents in the Trash, as every view outside the Trash does.
//
// Threads: main thread only.
#pragma once

#include "Browser/KPItemData.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Kit/Scheduler.h"

#include <QList>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

struct MainWindowContext;
class QLabel;
class QObject;
class QWheelEvent;

namespace platform {
class Workspace;
}

class ZoomAndTiles {
public:
    static constexpr int kThumbRefreshMs = 300;
    static constexpr int kSlideMs = 300;
    // What one notch of the wheel with Ctrl held adds to the magnification.
    static constexpr double kWheelNotchMagnification = 0.1;

    static inline const QString kMouseMagnifyNotification = QStringLiteral("MouseMagnify");

    explicit ZoomAndTiles(MainWindowContext& ctx);
    ~ZoomAndTiles();
    ZoomAndTiles(const ZoomAndTiles&) = delete;
    ZoomAndTiles& operator=(const ZoomAndTiles&) = delete;

    // Observes the zoom, tile, hover-button and header notifications on ctx.notifications and
    // takes Ctrl+wheel on the grid.
    void install();

    // ---- hooks of the parts built beside this one (unset: nothing happens) ----
    // The zoom slider follows the scale.
    std::function<void(double scale)> setZoomSliderValue;
    // The chrome's part of entering a group: back button, group buttons and title.
    std::function<void()> enterSubLayerChrome;
    // Brings the preview window to the front for the selection.
    std::function<void()> showPreview;
    // Opens or closes the inspector pane.
    std::function<void(bool expand)> setRightPropertyViewExpand;
    // The kind's extensions; the supported-format table unless a test replaces it.
    std::function<QStringList(qint64 kindID)> extensionsByKindID;
    // Shows a file in the file manager; the shared workspace unless a test replaces it.
    platform::Workspace* workspace = nullptr;

    // ---- zoom ----
    void onMouseMagnify(const platform::Notification& note);
    void magnify(double magnification);
    // Ctrl+wheel: true when the event was taken as a zoom step.
    bool onZoomWheel(QWheelEvent* event);
    // Restarts the pending thumbnail refresh; also for the zoom menu items and the slider.
    void restartThumbTimer();
    void onUpdateThumbTimer();
    int thumbRefreshCount() const { return m_thumbRefreshCount; }

    // ---- tiles ----
    void onSectionDateItemViewClick(const platform::Notification& note);
    void onSectionFlagViewClick(const platform::Notification& note);
    void onSectionFileTypeViewClick(const platform::Notification& note);
    void onSectionAuthorViewClick(const platform::Notification& note);
    void enterSubLayerSetting();
    // The documents of a kind that are not in the Trash.
    QList<KPItemDataPtr> fileInfosOfKind(qint64 kindID) const;
    // The snapshot of the grid shown under the slide (null when none is running).
    QLabel* cacheCollectionImageView() const { return m_cacheCollectionImageView; }

    // ---- item buttons and headers ----
    void onSectionItemViewButtonClick(const platform::Notification& note);
    void onSectionHeaderViewDoubleClick(const platform::Notification& note);

private:
    class WheelFilter;

    void showGroup(const QList<KPItemDataPtr>& items);
    void createCacheCollectionImageView();
    void finishSlide();

    MainWindowContext& m_ctx;
    std::vector<platform::ObserverToken> m_observers;
    std::unique_ptr<WheelFilter> m_wheelFilter;
    platform::kit::Token m_updateCollectionViewThumbTimer;
    int m_thumbRefreshCount = 0;
    QPointer<QLabel> m_cacheCollectionImageView;
    QPoint m_gridHome;
    bool m_sliding = false;
    std::shared_ptr<bool> m_alive;
};
