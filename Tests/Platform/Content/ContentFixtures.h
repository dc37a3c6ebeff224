// Documents built by the tests themselves: zips through minizip, PDFs through QPdfWriter,
// JPEGs with an EXIF orientation, so no binary fixture is checked in.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <ostream>

// Readable failure messages for QString comparisons.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace contentfixtures {

struct ZipEntry {
    QString name;
    QByteArray data;
    // When set, the header claims this inflated size instead of the true one (a lying entry).
    std::optional<quint64> declaredSize = std::nullopt;
};

// Writes a deflated zip; fails the current test on error.
void writeZip(const QString& path, const QList<ZipEntry>& entries);
// A zip whose one entry inflates to `bytes` zeros, written in pieces to spare memory.
void writeZerosZip(const QString& path, const QString& entryName, qint64 bytes);

// A PDF with one page per text, the text drawn in a large font.
void writePdf(const QString& path, const QStringList& pages);
QByteArray pdfBytes(const QStringList& pages);

// PDFs written object by object, for what QPdfWriter never makes: objects are numbered from 1
// (the catalog first), with a classic cross-reference table.
QByteArray pdfFromObjects(const QList<QByteArray>& objects, const QByteArray& trailerExtra = {});
QByteArray pdfStream(const QByteArray& content, const QByteArray& dictionaryExtra = {});
struct HandPage {
    QByteArray mediaBox = "0 0 612 792";
    int rotate = 0;
    QByteArray content; // drawn with /F1 (Helvetica) at hand
    QByteArray pageExtra = {};
};
// Objects 1 catalog, 2 pages, 3 the font; each page then its content stream. More objects may
// be appended after them.
QList<QByteArray> handPdfObjects(const QList<HandPage>& pages);
QByteArray handPdf(const QList<HandPage>& pages);
// Content that writes each line below the last, Latin-1 text in Helvetica.
QByteArray textLines(const QStringList& lines, int size = 14, int top = 720);

QByteArray jpegBytes(const QImage& image, int quality = 80);
// A JPEG whose EXIF block asks viewers to turn it (6 = 90° clockwise).
QByteArray jpegWithOrientation(const QImage& image, quint16 orientation);
QByteArray pngBytes(const QImage& image);

// Minimal but valid packages.
QList<ZipEntry> docxEntries(const QString& bodyXml);
QList<ZipEntry> odtEntries(const QString& bodyXml);
QList<ZipEntry> epubEntries(const QStringList& chapters, const QByteArray& coverPng = {});

} // namespace contentfixtures
