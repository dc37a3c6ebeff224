// A row of the iCloud window ("SourceItemCloudView") for one entry of
// "iCloudServiceConfig.plist": its default folder is the entry's path below the real home's
// "Library" folder, and it is connected when a live "iCloud" source has exactly that folder.
// Without the default folder Connect is disabled: there is nothing to connect. On Linux, where
// iCloud does not exist, that is what every row shows.
#pragma once

#include "Tools/Sources/IndexFolderType.h"
#include "Tools/Sources/SourceRowController.h"

class SourceItemCloudViewController : public SourceRowController {
public:
    SourceItemCloudViewController(const ICloudServiceEntry& dicInfo, SourceServices services, QWidget* parent = nullptr);

    const ICloudServiceEntry& dicInfo() const { return m_dicInfo; }
    void btnConnect() { chooseFolder(); }

protected:
    QList<DBIndexFolder> liveSources() const override;
    QString chooserMessage() const override;
    bool connectsWithoutDefaultFolder() const override { return false; }

private:
    ICloudServiceEntry m_dicInfo;
};
