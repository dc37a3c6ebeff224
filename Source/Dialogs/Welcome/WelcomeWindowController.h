// The welcome window: a page browser above a 42-point bar with OK. The page comes from the
// maker's web site when its host is found reachable within 3 s, else from the local
// "welcome/folivo2.html"; a reachability answer that comes after the local page is shown
// changes nothing. Without a configured host the local page shows at once. Links open in the
// desktop's browser (web and mail links only: a page from the web may not start local files).
//
// At start-up the window holds back the opening of the library: the completion runs once when
// the window goes, by OK or by the window manager's close (or Esc); the Welcome menu command
// shows it without a completion.
//
// Threads: main thread. The fallback timer runs on the Kit's scheduler.
#pragma once

#include "Dialogs/Welcome/MakerHosts.h"
#include "Platform/Kit/Scheduler.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QPushButton;
class QTextBrowser;
class Reachability;

namespace platform {
class Workspace;
}

class WelcomeWindowController : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFallbackMs = 3000;
    // A remote page larger than this, or slower than kFetchTimeoutMs, is not shown.
    static constexpr qint64 kMaxRemotePageBytes = 2 * 1024 * 1024;
    static constexpr int kFetchTimeoutMs = 15000;
    static constexpr int kBottomBorder = 42;

    enum class Page { None, Local, Remote };

    struct Options {
        MakerHosts hosts = MakerHosts::configured();
        Reachability* reachability = nullptr;   // null: the TCP check
        platform::Workspace* workspace = nullptr; // null: the shared workspace
        QString localPage;                        // empty: the bundle's "welcome/folivo2.html"
    };

    WelcomeWindowController();
    explicit WelcomeWindowController(Options options, QWidget* parent = nullptr);
    ~WelcomeWindowController() override;

    // The start-up hook: shows the welcome window centred and starts the page choice; onOk runs
    // when it goes. The window deletes itself when closed.
    static WelcomeWindowController* showWelcomeWindow(std::function<void()> onOk);
    static WelcomeWindowController* showWelcomeWindow(std::function<void()> onOk, Options options);

    void setupCompletedBlock(std::function<void()> block) { m_completedBlock = std::move(block); }
    // Starts the page choice (once).
    void start();
    void btnOKClick();

    Page page() const { return m_page; }
    bool serverIsOK() const { return m_serverIsOK; }
    bool isOver5s() const { return m_isOver5s; }
    QTextBrowser* webview() const { return m_webview; }
    QPushButton* okButton() const { return m_okButton; }

    void done(int result) override;

Q_SIGNALS:
    void pageShown(WelcomeWindowController::Page page);

private:
    void onReachability(bool reachable);
    void timer();
    void loadRemote();
    void loadLocal();
    void onRemoteFinished(QNetworkReply* reply);
    void openLink(const QUrl& url);

    Options m_options;
    QTextBrowser* m_webview = nullptr;
    QPushButton* m_okButton = nullptr;
    QNetworkAccessManager* m_network = nullptr;
    std::function<void()> m_completedBlock;
    platform::kit::Token m_fallback;
    Page m_page = Page::None;
    bool m_started = false;
    bool m_serverIsOK = false;
    bool m_isOver5s = false;
    bool m_deleteWhenDone = false;
};
