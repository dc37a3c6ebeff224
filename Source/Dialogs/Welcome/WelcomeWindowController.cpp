#include "Dialogs/Welcome/WelcomeWindowController.h"

#include "Dialogs/Welcome/Reachability.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Localization.h"
#include "Platform/Kit/WindowPlacement.h"
#include "Platform/Workspace/Workspace.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QHBoxLayout>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

using platform::localizedString;

namespace {

const QString kLogDomain = QStringLiteral("Welcome");

void logLine(const QString& text)
{
    KPLogLogDomainMessage(kLogDomain, 0, text);
}

} // namespace

WelcomeWindowController::WelcomeWindowController(Options options, QWidget* parent)
    : QDialog(parent), m_options(std::move(options))
{
    setObjectName(QStringLiteral("WelcomeWindow"));
    setWindowTitle(localizedString(QStringLiteral("Welcome to Folivo 2")));
    resize(780, 560);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_webview = new QTextBrowser(this);
    // Links are the desktop browser's business; the page itself never navigates.
    m_webview->setOpenLinks(false);
    m_webview->setOpenExternalLinks(false);
    m_webview->setFrameShape(QFrame::NoFrame);
    layout->addWidget(m_webview, 1);

    auto* bar = new QWidget(this);
    bar->setFixedHeight(kBottomBorder);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(12, 0, 12, 0);
    barLayout->addStretch();
    m_okButton = new QPushButton(localizedString(QStringLiteral("OK")), bar);
    m_okButton->setDefault(true);
    barLayout->addWidget(m_okButton);
    layout->addWidget(bar);

    connect(m_okButton, &QPushButton::clicked, this, &WelcomeWindowController::btnOKClick);
    connect(m_webview, &QTextBrowser::anchorClicked, this, &WelcomeWindowController::openLink);
}

WelcomeWindowController::WelcomeWindowController() : WelcomeWindowController(Options()) {}

WelcomeWindowController::~WelcomeWindowController() = default;

WelcomeWindowController* WelcomeWindowController::showWelcomeWindow(std::function<void()> onOk)
{
    return showWelcomeWindow(std::move(onOk), Options());
}

WelcomeWindowController* WelcomeWindowController::showWelcomeWindow(std::function<void()> onOk, Options options)
{
    auto* controller = new WelcomeWindowController(std::move(options));
    controller->m_deleteWhenDone = true;
    controller->setupCompletedBlock(std::move(onOk));
    platform::kit::placeCentred(controller);
    controller->show();
    controller->raise();
    controller->activateWindow();
    controller->start();
    return controller;
}

void WelcomeWindowController::start()
{
    if (m_started)
        return;
    m_started = true;
    if (m_options.hosts.welcomeHost.isEmpty() || !m_options.hosts.hasLinkHost()) {
        loadLocal();
        return;
    }
    QPointer<WelcomeWindowController> guard(this);
    Reachability& reachability = m_options.reachability ? *m_options.reachability : Reachability::system();
    reachability.check(m_options.hosts.welcomeHost, [guard](bool reachable) {
        if (guard)
            guard->onReachability(reachable);
    });
    m_fallback = platform::kit::Scheduler::current().after(kFallbackMs, [this] { timer(); });
}

void WelcomeWindowController::onReachability(bool reachable)
{
    m_serverIsOK = reachable;
    if (reachable && !m_isOver5s)
        loadRemote();
}

void WelcomeWindowController::timer()
{
    m_isOver5s = true;
    if (!m_serverIsOK)
        loadLocal();
}

void WelcomeWindowController::loadRemote()
{
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(m_options.hosts.linkURL(MakerHosts::kWelcomePath));
    request.setTransferTimeout(kFetchTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = m_network->get(request);
    // Stops reading as soon as the page is larger than any welcome page can be.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > kMaxRemotePageBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onRemoteFinished(reply); });
}

void WelcomeWindowController::onRemoteFinished(QNetworkReply* reply)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    const QByteArray body = reply->error() == QNetworkReply::NoError ? reply->read(kMaxRemotePageBytes + 1) : QByteArray();
    const QString text = QString::fromUtf8(body);
    // Anything but a plain HTML page that reads as text falls back to the page we ship.
    if (reply->error() != QNetworkReply::NoError || status != 200 || !type.startsWith(QLatin1String("text/html"))
        || body.isEmpty() || body.size() > kMaxRemotePageBytes || body.contains('\0')
        || text.contains(QChar::ReplacementCharacter)) {
        logLine(QStringLiteral("The welcome page from %1 was not usable (%2, HTTP %3, %4); the local page is shown")
                    .arg(reply->url().toString(), reply->errorString(), QString::number(status), type));
        loadLocal();
        return;
    }
    m_webview->setHtml(text);
    m_page = Page::Remote;
    Q_EMIT pageShown(m_page);
}

void WelcomeWindowController::loadLocal()
{
    const QString path = m_options.localPage.isEmpty()
                             ? platform::Bundle::mainBundle().pathForResource(QStringLiteral("folivo2"), QStringLiteral("html"),
                                                                              QStringLiteral("welcome"))
                             : m_options.localPage;
    if (!path.isEmpty() && QFile::exists(path)) {
        m_webview->setSource(QUrl::fromLocalFile(path), QTextDocument::HtmlResource);
    } else {
        logLine(QStringLiteral("The local welcome page is missing"));
        m_webview->setPlainText(localizedString(QStringLiteral("Welcome to Folivo 2")));
    }
    m_page = Page::Local;
    Q_EMIT pageShown(m_page);
}

void WelcomeWindowController::openLink(const QUrl& link)
{
    const QUrl url = m_webview->source().resolved(link);
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http") && scheme != QLatin1String("mailto")) {
        logLine(QStringLiteral("A welcome page link was not followed: %1").arg(url.toString()));
        return;
    }
    platform::Workspace& workspace = m_options.workspace ? *m_options.workspace : platform::Workspace::shared();
    if (auto opened = workspace.openURL(url); !opened)
        logLine(QStringLiteral("A welcome page link could not be opened: %1").arg(opened.error().toString()));
}

void WelcomeWindowController::btnOKClick()
{
    accept();
}

void WelcomeWindowController::done(int result)
{
    m_fallback.cancel();
    QDialog::done(result);
    // OK, Esc and the window manager's close all end here; the completion runs once.
    if (auto block = std::exchange(m_completedBlock, nullptr))
        block();
    if (m_deleteWhenDone)
        deleteLater();
}
