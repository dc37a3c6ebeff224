// folivo-pdfcheck <path>: opens the PDF with the library the preview window shows it with and
// draws a corner of its first page. Exit status 0: it opens and has pages; 2: it needs a
// password; 1: anything else. The caller kills it when it does not end in time.
#include <QCoreApplication>
#include <QPdfDocument>
#include <QSize>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 1;
    QPdfDocument document;
    const QPdfDocument::Error error = document.load(QString::fromLocal8Bit(argv[1]));
    if (error == QPdfDocument::Error::IncorrectPassword || error == QPdfDocument::Error::UnsupportedSecurityScheme)
        return 2;
    if (error != QPdfDocument::Error::None || document.pageCount() <= 0)
        return 1;
    return document.render(0, QSize(32, 32)).isNull() ? 1 : 0;
}
