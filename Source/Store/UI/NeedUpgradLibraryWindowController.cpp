#include "Store/UI/NeedUpgradLibraryWindowController.h"

#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Paths.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Store/LibraryUpgrade.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStackedLayout>

namespace {

// How long the window takes to take the size of the next view.
constexpr int kResizeAnimationMs = 200;

} // namespace

NeedUpgradLibraryWindowController::NeedUpgradLibraryWindowController(const QString& libraryFolder,
                                                                     const QString& resourcePath)
    : NeedUpgradLibraryWindowController(UpgradeFunction([libraryFolder, resourcePath]() -> platform::Result<void> {
          QString folder = libraryFolder;
          if (folder.isEmpty())
              folder = platform::Paths::expandTilde(
                  platform::UserDefaults::standardUserDefaults().stringForKey(QStringLiteral("String_Library_Path")));
          if (resourcePath.isEmpty())
              return LibraryUpgrade::upgradeLibrary(folder, platform::Bundle::mainBundle());
          const platform::Bundle bundle(resourcePath);
          return LibraryUpgrade::upgradeLibrary(folder, bundle);
      }))
{
}

NeedUpgradLibraryWindowController::NeedUpgradLibraryWindowController(UpgradeFunction upgrade)
    : m_upgrade(std::move(upgrade))
{
    m_outlets = buildNeedUpgradLibraryWindow();
    m_ownedWindow.reset(m_outlets.window);
    m_outlets.window->installEventFilter(this);
    connect(m_outlets.updateButton, &QPushButton::clicked, this, [this] { btnUpdateClick(); });
    connect(m_outlets.cancelButton, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    awakeFromNib();
}

NeedUpgradLibraryWindowController::~NeedUpgradLibraryWindowController()
{
    if (m_outlets.window)
        m_outlets.window->removeEventFilter(this);
}

int NeedUpgradLibraryWindowController::runModal()
{
    return m_outlets.window->exec();
}

void NeedUpgradLibraryWindowController::awakeFromNib()
{
    showView(m_outlets.firstView, m_outlets.firstViewSize);
}

void NeedUpgradLibraryWindowController::btnUpdateClick()
{
    if (m_upgrading)
        return;
    showView(m_outlets.updateingView, m_outlets.updateingViewSize);
    m_outlets.indicator->setRange(0, 0); // indeterminate: the bar animates
    updateDataBase();
}

void NeedUpgradLibraryWindowController::btnCancelClick()
{
    if (m_upgrading)
        return;
    m_outlets.window->done(Cancelled);
}

void NeedUpgradLibraryWindowController::updateDataBase()
{
    m_upgrading = true;
    m_lastError.clear();
    QPointer<NeedUpgradLibraryWindowController> self(this);
    platform::Dispatch::async(platform::DispatchQueue::global(), [self, upgrade = m_upgrade] {
        const platform::Result<void> outcome = upgrade ? upgrade() : platform::Result<void>();
        platform::Dispatch::main([self, outcome] {
            if (!self)
                return;
            if (!outcome) {
                self->m_lastError = outcome.error().message;
                KPLogLogDomainMessage(QStringLiteral("DataBase"), 0,
                                      QStringLiteral("Library upgrade failed: %1").arg(outcome.error().toString()));
            }
            self->onDataBaseUpgradFinished(outcome ? UpgradeSucceeded : UpgradeFailed);
        });
    });
}

void NeedUpgradLibraryWindowController::onDataBaseUpgradFinished(int code)
{
    m_upgrading = false;
    m_outlets.indicator->setRange(0, 1);
    m_outlets.window->done(code);
}

bool NeedUpgradLibraryWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_outlets.window && m_upgrading) {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
    }
    return QObject::eventFilter(watched, event);
}

// The window takes the view's size, keeping its top edge and its horizontal centre.
void NeedUpgradLibraryWindowController::showView(QWidget* view, const QSize& size)
{
    QDialog* window = m_outlets.window;
    const QRect old = window->geometry();
    const QRect target(old.center().x() - size.width() / 2, old.top(), size.width(), size.height());
    m_outlets.content->setCurrentWidget(view);
    if (window->isVisible()) {
        auto* animation = new QPropertyAnimation(window, "geometry", window);
        animation->setDuration(kResizeAnimationMs);
        animation->setStartValue(old);
        animation->setEndValue(target);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        window->setGeometry(target);
    }
}
