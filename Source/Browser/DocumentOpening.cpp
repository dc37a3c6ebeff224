#include "Browser/DocumentOpening.h"

#include "Browser/BrowserText.h"
#include "Platform/Kit/Alert.h"
#include "Platform/Kit/DialogService.h"
#include "Platform/Workspace/Workspace.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFileInfo>
#include <QWidget>

namespace documentopening {

int openDocuments(platform::Workspace& workspace, const QStringList& paths, QWidget* window,
                  platform::kit::DialogService* dialogs)
{
    int opened = 0;
    QString firstFailed;
    QStringList reasons;
    for (const QString& path : paths) {
        auto done = workspace.openFile(path);
        if (done) {
            ++opened;
            continue;
        }
        KPLogLogMessage(QStringLiteral("Open: %1").arg(done.error().message));
        if (firstFailed.isEmpty())
            firstFailed = QFileInfo(path).fileName();
        if (!reasons.contains(done.error().message))
            reasons.append(done.error().message);
    }
    if (reasons.isEmpty())
        return opened;
    platform::kit::DialogService& service = dialogs ? *dialogs : platform::kit::DialogService::shared();
    service.alert(window ? window->window() : nullptr,
                  platform::kit::Alert::withMessage(browsertext::format(kCannotOpenText, {firstFailed}),
                                                    browsertext::text(QStringLiteral("OK")), {}, {},
                                                    reasons.join(QLatin1Char('\n'))),
                  {});
    return opened;
}

} // namespace documentopening
