// The recording dialog service's look-ups the tests share, and a library folder the program
// accepts.
#pragma once

#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Kit/RecordingDialogService.h"
#include "Support/TestSupport.h"

#include <QStringList>

namespace prefstest {

using Dialogs = platform::kit::RecordingDialogService;
using Kind = platform::kit::RecordingDialogService::Kind;

// The message texts of the alerts asked so far, in order.
inline QStringList alertTexts(const Dialogs& dialogs)
{
    QStringList texts;
    for (const auto& request : dialogs.requests(Kind::Alert))
        texts << request.messageText;
    return texts;
}

inline platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standardUserDefaults();
}

// A folder this program takes for a library: "library.db" and a "version.plist" naming it.
inline QString makeLibrary(const QString& name = QStringLiteral("lib"))
{
    const QString path = testsupport::makeTempDir(name);
    testsupport::writeFile(path + QStringLiteral("/library.db"), QByteArray());
    testsupport::writeFile(path + QStringLiteral("/version.plist"),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                           "<key>name</key><string>Folivo 2.0</string><key>version</key><real>2.0</real>"
                           "</dict></plist>\n");
    return path;
}

inline QStringList recentLibraries()
{
    QStringList paths;
    for (const QVariant& entry : defaults().arrayForKey(QStringLiteral("Array_RecentLibrary_Paths")))
        paths << entry.toMap().value(QStringLiteral("Path")).toString();
    return paths;
}

} // namespace prefstest
