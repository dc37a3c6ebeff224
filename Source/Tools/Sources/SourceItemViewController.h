// A row of the Source pane for one cloud-sync service ("SourceItemView"): its icon, title and
// default folder come from the service's type key; it is connected when a live source of that
// type exists (the last one counts) and its folder is there. Connecting posts the type key;
// Connect stays enabled without a default folder, as the service may keep its folder anywhere.
#pragma once

#include "Tools/Sources/SourceRowController.h"

class SourceItemViewController : public SourceRowController {
public:
    // The row is a child of parent; the controller lives as long as its row.
    SourceItemViewController(const QString& sourceType, SourceServices services, QWidget* parent = nullptr);

    const QString& sourceType() const { return m_sourceType; }
    void btnConnectClick() { chooseFolder(); }

protected:
    QList<DBIndexFolder> liveSources() const override;
    QString chooserMessage() const override;
    bool connectsWithoutDefaultFolder() const override { return true; }

private:
    QString m_sourceType;
};
