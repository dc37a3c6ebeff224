// What a cloud-sync row and an iCloud row share: the row's look, its four states, connecting a
// folder and disconnecting it.
//
// - States: connected (the folder shown, the disconnect button), missing (a live source whose
//   folder is gone: not found, Connect), available (the default folder exists: shown, Connect)
//   and not found (neither: not found, Connect, which a row may disable).
// - Connecting: a window-modal folder chooser starting in the default folder. The chosen folder
//   is refused with an alert when it is the library folder or lies inside it (the library would
//   index itself), and silently when a live index folder or source already has exactly that
//   folder. Otherwise "AddIndexFolder" is posted 0.3 s later and the row shows it connected.
// - Disconnecting: the removal sheet on the row's window; only when it reports the removal is
//   "RemoveIndexFolder" posted with the folder (also when the row went away meanwhile) and the
//   row shown as after loading without a source. A cancelled or failed removal changes nothing.
//
// Paths are compared exactly and by whole components. Main thread only.
#pragma once

#include "Tools/Sources/SourceItemView.h"
#include "Tools/Sources/SourceServices.h"

#include "Store/DBIndexFolder.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <QFileDialog>
class QPainter;

class SourceRowController : public QObject {
public:
    enum class State { Connected, Missing, Available, NotFound };

    ~SourceRowController() override;

    QWidget* view() const;
    const SourceItemOutlets& outlets() const { return m_outlets; }
    const SourceServices& services() const { return m_services; }
    const QString& title() const { return m_title; }
    const QString& defalutSourcePath() const { return m_defaultFolder; }
    // The connected folder; empty when the row has none.
    const QString& indexFolderPath() const { return m_indexFolderPath; }
    State state() const { return m_state; }

    QColor bgColor() const { return m_bgColor; }
    void setBgColor(const QColor& color);

    // Opens the folder chooser (Connect); not while a chosen folder waits to be announced.
    void chooseFolder();
    // The folder chooser while it is open.
    QFileDialog* folderChooser() const { return m_chooser; }
    void onDisconnectClick();

    // What a cloud-sync row shows of a folder: its components joined, the first two left out
    // when short is asked for and there are at least three.
    static QString pathText(const QString& folder, bool shortened);

protected:
    SourceRowController(SourceServices services, QString title, QString type, QString defaultFolder,
                        bool withPathControl, QWidget* parent);

    // The live sources that tell whether the row is connected; the last one counts.
    virtual QList<DBIndexFolder> liveSources() const = 0;
    // The folder chooser's message.
    virtual QString chooserMessage() const = 0;
    // Whether Connect stays enabled when the default folder is missing.
    virtual bool connectsWithoutDefaultFolder() const = 0;
    // Reads the row's state from the store and the disk (as the row loads).
    void loadState();
    void showState(State state);
    // Live index folders, empty when the store cannot be read.
    QList<DBIndexFolder> liveIndexFolders(const QString& type = {}) const;

private:
    void onDrawBG(QPainter& painter);
    void folderChosen(const QString& folder);
    bool isLibraryFolder(const QString& folder) const;
    bool isConnectedElsewhere(const QString& folder) const;

    SourceServices m_services;
    SourceItemOutlets m_outlets;
    QString m_title;
    QString m_type;
    QString m_defaultFolder;
    QString m_indexFolderPath;
    QColor m_bgColor = Qt::white;
    State m_state = State::NotFound;
    QPointer<QFileDialog> m_chooser;
    bool m_connecting = false; // a chosen folder waits to be announced
};
