#include "Tools/PDFMerge.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Kit/Scheduler.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Utilities/SystemHelpers.h"
#include "Utilities/WrittenPdf.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("PDFMerge");

std::atomic<int> g_mergesInFlight{0};

void logSkip(const QString& path, const QString& reason)
{
    KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Merge skips %1: %2").arg(path, reason));
}

QString whatOf(const std::exception& e)
{
    return QString::fromLocal8Bit(e.what());
}

void removeFile(const QString& path)
{
    if (!path.isEmpty())
        ::unlink(QFile::encodeName(path).constData());
}

// The input opened for reading its pages; null when it does not open or is encrypted.
std::shared_ptr<QPDF> openInput(const QString& path)
{
    try {
        auto pdf = std::make_shared<QPDF>();
        pdf->setSuppressWarnings(true);
        pdf->processFile(QFile::encodeName(path).constData());
        if (pdf->isEncrypted()) {
            logSkip(path, QStringLiteral("encrypted"));
            return nullptr;
        }
        return pdf;
    } catch (const std::exception& e) {
        logSkip(path, whatOf(e));
    } catch (...) {
        logSkip(path, QStringLiteral("does not open"));
    }
    return nullptr;
}

// Appends every page of source, or none: a page that cannot be taken over takes the pages of
// its file that went before it out again. Answers how many pages were added.
size_t appendPages(QPDF& source, QPDFPageDocumentHelper& output, size_t pagesBefore, const QString& path)
{
    try {
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(source).getAllPages();
        for (QPDFPageObjectHelper& page : pages)
            output.addPage(page, false);
        return pages.size();
    } catch (const std::exception& e) {
        logSkip(path, whatOf(e));
    } catch (...) {
        logSkip(path, QStringLiteral("pages cannot be read"));
    }
    std::vector<QPDFPageObjectHelper> all = output.getAllPages();
    for (size_t i = pagesBefore; i < all.size(); ++i)
        output.removePage(all[i]);
    return 0;
}

} // namespace

struct PDFMerge::State {
    QStringList inputs;
    std::atomic<bool> isCancel{false};
    // Main thread only from here on.
    CompletedBlock completedBlock;
    QString pendingPath; // merged, waiting for the pause to end
    platform::kit::Token pause;

    ~State() { removeFile(pendingPath); }

    QString merge();
    QString write(QPDF& output, const QString& folder, size_t pageCount);
    void deliver(QString path);
};

QString PDFMerge::State::merge()
{
    if (inputs.isEmpty())
        return {};
    const QString folder = temporaryFolder();
    if (folder.isEmpty())
        return {};
    try {
        QPDF output;
        output.setSuppressWarnings(true);
        output.emptyPDF();
        QPDFPageDocumentHelper outputPages(output);
        // Pages taken over from an input read their contents from it when the output is
        // written, so every input stays open until then.
        std::vector<std::shared_ptr<QPDF>> sources;
        size_t pageCount = 0;
        for (const QString& input : std::as_const(inputs)) {
            if (isCancel.load())
                break;
            std::shared_ptr<QPDF> source = openInput(input);
            if (!source)
                continue;
            pageCount += appendPages(*source, outputPages, pageCount, input);
            sources.push_back(std::move(source));
        }
        if (pageCount == 0 || isCancel.load())
            return {};
        return write(output, folder, pageCount);
    } catch (const std::exception& e) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Merge failed: %1").arg(whatOf(e)));
    } catch (...) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Merge failed"));
    }
    return {};
}

QString PDFMerge::State::write(QPDF& output, const QString& folder, size_t pageCount)
{
    const QString target = QStringLiteral("%1/%2(merge).pdf").arg(folder, QFileInfo(inputs.first()).completeBaseName());
    // Created with the mode every file of the library gets (the umask applies), not mkstemp's
    // owner-only one: the file is moved into the library as it is.
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
        temporary = QFile::encodeName(QStringLiteral("%1/.merge-%2")
                                          .arg(folder)
                                          .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Merge cannot write into %1").arg(folder));
        return {};
    }
    const QString temporaryPath = QFile::decodeName(temporary);
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        removeFile(temporaryPath);
        return {};
    }
    QString failure;
    try {
        QPDFWriter writer(output, temporary.constData(), file, false);
        writer.write();
    } catch (const std::exception& e) {
        failure = whatOf(e);
    } catch (...) {
        failure = QStringLiteral("the writer failed");
    }
    // The last buffered bytes reach the file only here, and a full disk shows only here; what
    // was written must open again with every page, or it is no result.
    if (failure.isEmpty())
        failure = WrittenPdf::finish(file, temporaryPath, static_cast<long long>(pageCount));
    else
        std::fclose(file);
    if (!failure.isEmpty()) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("Merge cannot write %1: %2").arg(target, failure));
        removeFile(temporaryPath);
        return {};
    }
    // The temporary folder is ours: a name left by an earlier run is replaced.
    if (isCancel.load() || ::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0) {
        removeFile(temporaryPath);
        return {};
    }
    if (isCancel.load()) {
        removeFile(target);
        return {};
    }
    return target;
}

void PDFMerge::State::deliver(QString path)
{
    if (isCancel.load()) {
        removeFile(path);
        path.clear();
    }
    if (const CompletedBlock block = std::exchange(completedBlock, nullptr))
        block(path);
}

PDFMerge::PDFMerge(const QStringList& inputDocuments) : m_state(std::make_shared<State>())
{
    m_state->inputs = inputDocuments;
}

PDFMerge::~PDFMerge()
{
    m_state->isCancel.store(true);
    m_state->completedBlock = nullptr;
    m_state->pause.cancel();
    removeFile(std::exchange(m_state->pendingPath, QString()));
}

const QStringList& PDFMerge::inputDocuments() const
{
    return m_state->inputs;
}

void PDFMerge::setCompletedBlock(CompletedBlock block)
{
    m_state->completedBlock = std::move(block);
}

void PDFMerge::setIsCancel(bool isCancel)
{
    if (isCancel)
        m_state->isCancel.store(true);
}

bool PDFMerge::isCancel() const
{
    return m_state->isCancel.load();
}

QString PDFMerge::mergeDocuments()
{
    return m_state->merge();
}

QString PDFMerge::mergeWaitUntilDone(bool waitUntilDone)
{
    if (waitUntilDone)
        return mergeDocuments();
    ++g_mergesInFlight;
    Dispatch::async(DispatchQueue::global(QueuePriority::Default), [state = m_state] {
        const QString path = state->merge();
        Dispatch::main([state, path] {
            if (state->isCancel.load()) {
                state->deliver(path);
            } else {
                state->pendingPath = path;
                std::weak_ptr<State> weak = state;
                state->pause = platform::kit::Scheduler::current().after(kCompletionPauseMs, [weak] {
                    if (const std::shared_ptr<State> held = weak.lock())
                        held->deliver(std::exchange(held->pendingPath, QString()));
                });
            }
            --g_mergesInFlight;
        });
    });
    return {};
}

int PDFMerge::mergesInFlight()
{
    return g_mergesInFlight.load();
}
