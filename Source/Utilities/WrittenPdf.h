// The last step of writing a PDF the program made itself (a merge, a saved scan): the file must
// be whole on the disk before anyone is told it exists. A full disk often shows only when the
// last buffered bytes are pushed out, and PDF writers carry on past a failed write, so a file
// cut short looks like a success to them; opening it again with qpdf and counting its pages is
// what tells.
//
// Threads: any; each call works on the file it is given.
#pragma once

#include <QString>
#include <cstdio>

class WrittenPdf {
public:
    // Flushes and syncs the stream, closes it in every case and opens the file at path again:
    // empty when it holds pageCount pages, else why it is not a whole PDF. The file is left
    // where it is either way; removing a failed one is the caller's.
    static QString finish(std::FILE* stream, const QString& path, long long pageCount);

    // The pages of the PDF at path; -1 when it does not open. qpdf's exceptions stay inside.
    static long long pageCount(const QString& path);
};
