// Who wrote a document, as the document itself records it.
//
// Each format keeps its authors in one place: the PDF document information ("Author"), the
// core properties of an Office Open XML package (dc:creator, where Office separates several
// authors with ";"), the meta part of an OpenDocument file (meta:initial-creator, then
// dc:creator when someone else saved it last), the package document of an EPUB book (each
// dc:creator whose role is author or unstated) and the "From" header of a mail message (each
// sender's display name, else the address).
//
// Documents come from anywhere, so reading is bounded: only the one small part that holds the
// names is inflated, under tight caps, and a mail message is read up to the end of its header
// block within a byte cap. A file that is damaged, encrypted or not what its name says gives
// no authors; nothing here fails louder than that. Any thread; no state.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

class DocumentAuthors {
public:
    // Tuning: the largest metadata part inflated from a package (core.xml, meta.xml and OPF
    // files are a few KiB; a megabyte leaves room for odd producers, not for bombs).
    static constexpr qint64 kMaxPartBytes = 1024 * 1024;
    // Tuning: bytes of a mail file searched for its header block.
    static constexpr qint64 kMaxMailHeaderBytes = 256 * 1024;
    // Tuning: wall time for reading one document's metadata.
    static constexpr qint64 kReadTimeoutMs = 10000;
    // Tuning: no document needs more names than this; the rest are dropped.
    static constexpr int kMaxAuthors = 64;

    enum class Kind { None, Pdf, OfficeOpenXml, OpenDocument, Epub, Mail };

    // The kind of document by extension, else by MIME type (content sniffed).
    static Kind kindOf(const QString& path);

    // The authors of the file, each trimmed, empty ones and repeats dropped.
    static QStringList read(const QString& path);

    // The parts themselves, for the readers above and for tests.
    static QStringList fromCoreProperties(const QByteArray& xml);
    static QStringList fromOpenDocumentMeta(const QByteArray& xml);
    static QStringList fromPackageDocument(const QByteArray& opf);
    // The display names of the "From" header of a message (or of an .emlx wrapper).
    static QStringList fromMailMessage(const QByteArray& message);

    DocumentAuthors() = delete;
};

} // namespace platform
