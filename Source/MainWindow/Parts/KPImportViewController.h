// The import panel laid over the document area while the Importing entry is selected: the
// preview of the file being copied, "n / count" (or what the import is preparing), the progress
// bar and the stop button, over a darkened background.
//
// The panel only shows what it is told; the stop button posts "StopImporting" and the import
// flow decides what happens. Owned by the widget tree of the document area; removeFromSuperView
// hands it to deleteLater.
//
// Threads: main thread only.
#pragma once

#include "Platform/Kit/View.h"

#include <QVariantMap>

namespace platform {
class NotificationCenter;
}
class KPProgressIndicator;
class KPThemeImageButton;
class QLabel;

class KPImportViewController : public platform::kit::View {
public:
    static inline const QString kStopImporting = QStringLiteral("StopImporting");
    static inline const QString kStopButtonTheme = QStringLiteral("Imporing_StopButton");
    // The background: black at this opacity.
    static constexpr double kBackgroundAlpha = 0.7;
    static constexpr int kStopButtonSize = 15;
    static constexpr int kStopButtonGap = 8;
    static constexpr int kImageSide = 256;
    static constexpr int kBarWidth = 300;
    static constexpr int kBarHeight = 15;

    // The stop button posts on center.
    explicit KPImportViewController(platform::NotificationCenter& center, QWidget* parent = nullptr);

    QLabel* imageView() const { return m_imageView; }
    QLabel* txtTitle() const { return m_txtTitle; }
    KPProgressIndicator* progress() const { return m_progress; }
    QWidget* progressParnetView() const { return m_progressParnetView; }
    KPThemeImageButton* stopButton() const { return m_stopButton; }

    // A "Progress" status: its image, its place in the count, "%d / %d".
    void showProgressByOptions(const QVariantMap& status);
    // Takes the panel out of the document area; it is deleted later.
    void removeFromSuperView();
    void onStopImportClick();

    static QString progressTitle(int currIndex, int count);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void awakeFromNib();

    QLabel* m_imageView = nullptr;
    QLabel* m_txtTitle = nullptr;
    QWidget* m_progressParnetView = nullptr;
    KPProgressIndicator* m_progress = nullptr;
    KPThemeImageButton* m_stopButton = nullptr;
    platform::NotificationCenter& m_center;
};
