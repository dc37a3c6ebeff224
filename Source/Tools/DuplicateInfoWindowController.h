// Finds documents with equal contents and lets the user move chosen copies to the library's
// trash. Opening the window starts the finder: it hashes (MD5Generator) every document outside
// the trash that has no hash yet, saving the hashes in batches of 10 so later runs only hash
// new documents, then groups the hashed documents by hash and shows each group as it is found.
// Documents in the library's trash are neither hashed nor shown; a file that cannot be read
// gets no hash and is tried again next time.
//
// Removal asks first, then puts the checked documents in the library's trash (their files stay
// where they are), posts "RefreshItemCountNotification" and closes the window 0.7 s later.
//
// The window is application-modal, shown without a nested event loop; it and its controller go
// when it closes (Cancel, the window's close button or after a removal), which also stops the
// finder: the work ends at its next check and its later results are dropped. Hashes saved before
// stay in the store.
//
// Threads: the window on the main thread; fetching, hashing and grouping on a global queue, each
// result handed back through the main queue. The stop flag is atomic.
#pragma once

#include "Tools/DuplicateInfoWindow.h"
#include "Tools/DuplicationInfoSelectView.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <memory>

class DuplicationInfoViewController;

class DuplicateInfoWindowController : public QObject {
public:
    // Hashes saved at a time.
    static constexpr int kSaveBatch = 10;
    // The pause between a confirmed removal and the window's closing.
    static constexpr int kCloseDelayMs = 700;

    explicit DuplicateInfoWindowController(QWidget* parent = nullptr);
    ~DuplicateInfoWindowController() override;

    // Shows the window application-modal and starts the finder.
    void showWindow();

    void btnRemoveSelectClick();
    void btnCancelClick();

    bool isStop() const;
    QDialog* window() const { return m_outlets.window; }
    const DuplicateInfoOutlets& outlets() const { return m_outlets; }
    const QList<DuplicationInfoViewController*>& dataSource() const { return m_dataSource; }

    // How rows show a file in the file manager (Workspace::selectFile unless set).
    void setRevealHandler(DuplicationInfoSelectView::RevealHandler handler) { m_reveal = std::move(handler); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct State;

    void newRecordWithInfos(const QList<DuplicateRecordInfo>& infos, const QImage& image);
    void foundAll();
    void layoutSubView();
    void showList();
    void alertDidEnd(int returnCode);
    // The checked rows' records of every group, in order.
    QList<platform::ObjectID> needRemoveObjIDs() const;

    DuplicateInfoOutlets m_outlets;
    std::shared_ptr<State> m_state;
    QList<DuplicationInfoViewController*> m_dataSource;
    DuplicationInfoSelectView::RevealHandler m_reveal;
    bool m_started = false;
    bool m_removing = false;
};
