// The text of a document file, for the full-text index and for text previews.
//
// Readers are registered by file extension (lower case) and by MIME type; a file whose extension
// no reader claims is sniffed with QMimeDatabase and matched by its type or any type it inherits
// from, so "notes" without an extension still reads as text when it is text. Every reader
// works under one ExtractionContext, so a job is bounded in text, inflated bytes and time
// however the file is built. A file that cannot be read gives an error (the index marks it
// failed); a file cut short by a cap gives the text up to the cap, marked truncated.
//
// Threads: extract() may run on any number of threads at once. Registration takes a write
// lock and is meant for start-up; the built-in readers are registered by shared().
#pragma once

#include "Platform/Content/ExtractionContext.h"
#include "Platform/Content/KindRegistry.h"

#include <QStringList>
#include <functional>

namespace platform {

class TextExtractor {
public:
    using Function = std::function<Result<ExtractedText>(const QString& path, ExtractionContext& ctx)>;

    // The registry with the built-in readers.
    static TextExtractor& shared();

    // An empty registry; registerBuiltIns() fills it as shared() is filled.
    TextExtractor() = default;
    void registerBuiltIns();

    // A later registration for the same extension or type replaces the earlier one. Only
    // readers registered with acceptsFolders are given folders (document packages).
    void registerExtractor(const QStringList& extensions, const QStringList& mimeTypes, Function fn,
                           bool acceptsFolders = false);

    bool canExtract(const QString& path) const;
    // Fails with NotFound (no file), Unsupported (no reader, or a folder that is no package),
    // Unreadable, TooLarge, Encrypted or TimedOut.
    Result<ExtractedText> extract(const QString& path, const ExtractionLimits& limits = {}) const;
    Result<ExtractedText> extract(const QString& path, ExtractionContext& ctx) const;

    // The bytes of a plain file up to the context's file cap, or maxBytes when smaller (marking
    // the context truncated when the file is longer).
    static Result<QByteArray> readFile(const QString& path, ExtractionContext& ctx, qint64 maxBytes = -1);
    // A plain text file, its encoding detected.
    static Result<ExtractedText> extractPlainText(const QString& path, ExtractionContext& ctx);

private:
    KindRegistry<Function> m_readers;
};

} // namespace platform
