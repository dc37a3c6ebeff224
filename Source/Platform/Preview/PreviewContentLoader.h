// What the preview window shows of one file, read away from the interface.
//
// The kind of preview follows the file's MIME type (its name first, its first bytes when the
// name says nothing): PDFs as documents of all their pages, images decoded upright at a size a
// screen can show, text of any sort (source, CSV, Markdown, logs) and HTML as text, mail messages
// as their headers and body, office, OpenDocument, iWork and EPUB packages as the picture they
// carry. Anything else, and any file that its reader cannot open, gets the info page: the file's
// name, kind, size and dates beside a picture of it.
//
// Every read is bounded, because the file may be huge, hostile or on a slow disk: only regular
// files are opened (a FIFO would block), text stops at kTextCapBytes (mail headers included),
// images decode within a pixel budget, packages read under the preview limits, and a PDF is
// opened only after a helper process that can be killed has opened it in time.
// load() is meant for a worker thread; it touches no widget. A PDF is opened there too and handed
// over to the thread that will show it.
#pragma once

#include "Platform/Foundation/Error.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <utility>

class QPdfDocument;
class QThread;

namespace platform {

enum class PreviewKind { Pdf, Image, Text, Mail, Package, Info };

// The facts the info page lists; gathered for every file, since any reader may fail.
struct PreviewFileFacts {
    bool exists = false;
    QString name;
    QString kind;      // the type's description ("PDF document")
    qint64 size = -1;  // -1 when unknown
    QDateTime created; // invalid when the file system keeps none
    QDateTime modified;
};

struct PreviewContent {
    PreviewKind kind = PreviewKind::Info;
    PreviewFileFacts facts;
    QString text;       // Text and Mail
    bool truncated = false;
    QImage image;       // Image and Package; for Info the stored thumbnail or the type's icon
    bool imageIsFileIcon = false;
    // Pdf: an opened document, living on the thread load() was given; deleted with deleteLater.
    std::shared_ptr<QPdfDocument> pdf;
    // Why a reader gave up and the info page is shown instead (empty when the type has none).
    QString failure;
};

class PreviewContentLoader {
public:
    // Tuning: text beyond this is not read (a log of gigabytes shows its beginning).
    static constexpr qint64 kTextCapBytes = 2LL * 1024 * 1024;
    // Tuning: images fit within this; more pixels than a screen shows only cost memory.
    static constexpr QSize kImageBox{2560, 2560};
    // Tuning: a mail message is read up to this size (attachments make them large).
    static constexpr qint64 kMailCapBytes = 16LL * 1024 * 1024;
    static constexpr QSize kIconBox{256, 256};
    // Tuning: a mail header value is shown up to this many characters (a header of megabytes
    // is an attack, not a subject line).
    static constexpr qsizetype kHeaderCapChars = 4096;
    // Tuning: shown lines are broken after this many characters: laying out a line without
    // break points costs the text view time that grows with the square of its length.
    static constexpr qsizetype kShownLineChars = 1000;

    // The preview kind for a file by its type (no reading beyond the type's sniffing).
    static PreviewKind kindForFile(const QString& path);

    // Reads the file's preview. pdfThread is the thread that will own an opened PDF (the
    // interface's); never fails: a failed read becomes the Info kind with its reason, pictured
    // by the stored thumbnail at thumbnailPath when there is one. A PDF is checked first by a
    // helper process (PdfProbe), given up when cancelled() says the read is no longer wanted.
    static PreviewContent load(const QString& path, QThread* pdfThread, const QString& thumbnailPath = {},
                               const std::function<bool()>& cancelled = {});

    // The first kTextCapBytes of a file decoded; truncated tells whether more was left.
    static Result<QString> readText(const QString& path, bool* truncated);
    // The headers a reader looks at first ("From", "To", "Cc", "Date", "Subject", in that order,
    // encoded words decoded, folded lines joined) followed by the message's text.
    static Result<QString> mailPreview(QByteArrayView message);
    // The named headers of the message's top header block, in the message's order.
    static QList<std::pair<QByteArray, QString>> mailHeaders(QByteArrayView message);

    static PreviewFileFacts factsOf(const QString& path);

    // text as a text view can lay it out at once: lines longer than kShownLineChars broken at
    // that length (a surrogate pair kept whole).
    static QString breakLongLines(const QString& text);
    // text cut to at most kTextCapBytes characters (a surrogate pair kept whole); true when cut.
    static bool capText(QString& text);
};

} // namespace platform
