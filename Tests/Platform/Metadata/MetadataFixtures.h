// Documents made by the metadata tests themselves: zips through minizip and a PDF written by
// hand (QPdfWriter cannot set an author), so no binary fixture is checked in.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <ostream>
#include <utility>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace metadatafixtures {

// Writes a deflated zip of (name, bytes) entries; fails the current test on error.
void writeZip(const QString& path, const QList<std::pair<QString, QByteArray>>& entries);

// A one-page PDF whose document information holds infoEntries verbatim ("/Author (Ann)").
QByteArray pdfWithInfo(const QByteArray& infoEntries);

} // namespace metadatafixtures
