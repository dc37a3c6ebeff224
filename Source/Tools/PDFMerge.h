// Joins the pages of PDF files, in the order given, into one new PDF in the program's temporary
// folder named after the first input: merging "Invoice.pdf" with others gives
// "<temporary folder>/Invoice(merge).pdf".
//
// An input that does not open, or is encrypted (also when only an owner password protects it),
// adds no pages and the merge goes on; with no pages at all there is no result. The inputs are
// outside bytes decoded by qpdf: every qpdf exception is caught here, and a merge that fails
// half-way leaves no file behind. The output is written under a temporary name, flushed to
// the disk, opened again and renamed only when it holds every page merged, so a full disk never
// leaves a half-written "(merge).pdf" nor is reported as a result. It gets the usual mode of
// new files (0666 less the umask).
//
// Cancelling: the flag is read between inputs and before the write. A result that is ready when
// the cancel comes, or while the merge is still waiting to be delivered, is deleted: a cancelled
// merge leaves nothing in the temporary folder. Destroying the object cancels it.
//
// Threads: made, cancelled and destroyed on the main thread. mergeWaitUntilDone(false) merges on
// a global queue, pauses 1 s on the interface scheduler (tests advance it) and calls the
// completion block on the main thread; the work shares a state object with this one, so it may
// outlive it. The cancel flag is atomic.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class PDFMerge {
public:
    // The merged file's path, or a null string when nothing was merged or it was cancelled.
    using CompletedBlock = std::function<void(const QString& mergedPath)>;

    // The pause between the end of a background merge and its completion.
    static constexpr int kCompletionPauseMs = 1000;

    explicit PDFMerge(const QStringList& inputDocuments);
    ~PDFMerge();
    PDFMerge(const PDFMerge&) = delete;
    PDFMerge& operator=(const PDFMerge&) = delete;

    const QStringList& inputDocuments() const;
    void setCompletedBlock(CompletedBlock block);
    // The flag is only ever set: false does not clear it.
    void setIsCancel(bool isCancel);
    bool isCancel() const;

    // Merges on the calling thread; the merged file's path or a null string.
    QString mergeDocuments();
    // true: mergeDocuments() on the calling thread, the completion block is not called. false:
    // answers a null string at once and merges in the background (see above).
    QString mergeWaitUntilDone(bool waitUntilDone);

    // Background merges that have not yet handed their result to the main thread (tests).
    static int mergesInFlight();

private:
    struct State;
    std::shared_ptr<State> m_state;
};
