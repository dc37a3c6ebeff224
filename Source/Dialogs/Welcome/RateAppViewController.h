// The rate prompt: a dimmed layer over the main window's content that swallows every click
// outside its rounded panel, with Rate, Remind Me Later and No, Thanks. Rate and No, Thanks
// set "Bool_Rated"; Remind resets "Int_RunningCount" to 0 and leaves "Bool_Rated" as it was.
// Every button posts "RemoveRateView", on which the main window removes the prompt; the
// observer may delete the controller right inside that post.
//
// It is offered only when the build names a link host (the rating page lives there).
//
// Ownership: the controller is a child of the host widget; its view, a child of the host
// covering it, goes with the controller. Threads: main thread.
#pragma once

#include "Dialogs/Welcome/MakerHosts.h"

#include <QObject>
#include <QPointer>

#include "Controls/KPCoustomDrawBGView.h"
class QPushButton;
class QWidget;

namespace platform {
class Workspace;
}

class RateAppViewController : public QObject {
    Q_OBJECT
public:
    static inline const QString kRemoveRateViewNotification = QStringLiteral("RemoveRateView");
    static constexpr int kFadeInMs = 250;

    struct Options {
        MakerHosts hosts = MakerHosts::configured();
        platform::Workspace* workspace = nullptr; // null: the shared workspace
    };

    static bool isOffered(const MakerHosts& hosts = MakerHosts::configured()) { return hosts.hasLinkHost(); }

    // Lays the prompt over host at once (fading in).
    explicit RateAppViewController(QWidget* host);
    RateAppViewController(QWidget* host, Options options);
    ~RateAppViewController() override;

    KPCoustomDrawBGView* view() const { return m_view; }
    KPCoustomDrawBGView* contentView() const { return m_contentView; }
    QPushButton* rateButton() const { return m_btnRate; }
    QPushButton* remindButton() const { return m_btnRemind; }
    QPushButton* cancelButton() const { return m_btnCancel; }

    // Centres the panel in the layer, keeping its size.
    void layoutSubView();
    void btnRateClick();
    void btnRemindClick();
    void btnCancel();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_host;
    Options m_options;
    QPointer<KPCoustomDrawBGView> m_view;
    KPCoustomDrawBGView* m_contentView = nullptr;
    QPushButton* m_btnRate = nullptr;
    QPushButton* m_btnRemind = nullptr;
    QPushButton* m_btnCancel = nullptr;
};
