// Prepares an import's files ahead of the import thread, on a few threads of its own (the
// 512×512 preview, its encoded thumbnail and the metadata: KPImportFileWorker::prepare), and
// hands each one over when the import reaches its file.
//
// Previews are by far the slowest step of an import (a PDF page render, a JPEG decode) and,
// like the thumbnail's encoding and the metadata, depend on nothing but the source file, so
// their computation moves here; the import thread still posts, copies, writes thumbnails and
// stores in its own order. The look-ahead is bounded by a window counted from the file the
// import last asked for, not by time: nothing is computed before the first file is asked for,
// and a paused import (which asks for nothing) lets at most one window of previews be made, so
// memory stays at a few dozen images. A preview the import never asks for (it was stopped, or
// the file failed) is simply dropped.
//
// take() must be called in increasing order of index. When the workers have not reached the
// file yet, the import thread makes the preview itself rather than wait; while a worker is
// still making it, the import thread makes the next unclaimed ones of the window meanwhile (its
// own work is a fraction of a preview's, so it would mostly wait otherwise). A preview is handed
// over only for the path it was made of; any mismatch is made again on the caller's thread.
//
// Threads: the workers are started by the first take() and joined by stop() (and the
// destructor): a preview already being made is finished and dropped, none is started after
// stop(), so nothing of an import runs once its operation has ended (but a PDF drawing that
// PdfContent gave up on, which only reads its source). A PDF preview takes at most its deadline
// and a grace, so stop() waits no longer than that. One mutex guards the window, the results
// and the stop flag; one condition variable wakes workers and the taker.
#pragma once

#include "Import/KPImportFileWorker.h"

#include <QImage>
#include <QStringList>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class KPPreviewPrefetcher {
public:
    using PreviewFunction = std::function<KPPreparedFile(const QString& path)>;

    // Tuning: previews are CPU-bound, so leave one core to the import thread and the rest of
    // the program, and stay small on big machines (more threads mostly add memory).
    static constexpr int kMaxWorkers = 4;
    // Tuning: how many previews may be made ahead of the import, per worker. A PDF takes a
    // hundred times as long as the pictures and notes it lies among; a window of a few files
    // holds one or two PDFs and leaves the other workers idle. 32 previews of 512×512 are 32 MB.
    static constexpr int kWindowPerWorker = 8;

    // min(kMaxWorkers, cores - 1), at least one.
    static int defaultWorkerCount();

    // paths: every file the import will ask for, in the order it will ask.
    KPPreviewPrefetcher(QStringList paths, PreviewFunction preview, int workers = defaultWorkerCount());
    ~KPPreviewPrefetcher();
    KPPreviewPrefetcher(const KPPreviewPrefetcher&) = delete;
    KPPreviewPrefetcher& operator=(const KPPreviewPrefetcher&) = delete;

    // What was prepared of the index-th path (which must be path), waiting for a worker that
    // is making it, else making it here.
    KPPreparedFile take(int index, const QString& path);
    // Ends the look-ahead: unstarted previews are never made, running ones are waited for.
    void stop();

    int workerCount() const { return m_workers; }
    int window() const { return m_workers * kWindowPerWorker; }

private:
    struct Shared;
    void startWorkers();
    void startWorker();

    std::shared_ptr<Shared> m_shared;
    PreviewFunction m_preview;
    int m_workers;
    bool m_started = false;
    std::vector<std::thread> m_threads;
};
