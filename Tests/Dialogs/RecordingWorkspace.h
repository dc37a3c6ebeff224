// A workspace for the dialog tests whose launches are recorded instead of started: whatever a
// dialog opens (a web page, the export folder) shows up as an argument of some launch.
#pragma once

#include "../Platform/Workspace/WorkspaceTestSupport.h"
#include "Platform/Workspace/Workspace.h"

namespace dialogtest {

struct RecordingWorkspace {
    RecordingWorkspace() { launcher.findable = {QStringLiteral("xdg-open")}; }

    // Whether some launch was handed this address or path.
    bool opened(const QString& addressOrPath) const
    {
        for (const QStringList& launch : launcher.launches)
            if (launch.contains(addressOrPath))
                return true;
        return false;
    }

    testsupport::RecordingLauncher launcher;
    platform::Workspace workspace{launcher};
};

} // namespace dialogtest
