#include "Platform/Content/IWorkPackage.h"

#include "Platform/Content/PdfContent.h"
#include "Platform/Content/XmlText.h"

namespace platform {

namespace {

XmlTextRules iWorkRules()
{
    XmlTextRules rules;
    rules.paragraphElements = {QStringLiteral("p"), QStringLiteral("li"), QStringLiteral("row")};
    rules.tabElements = {QStringLiteral("tab")};
    rules.lineBreakElements = {QStringLiteral("br"), QStringLiteral("lnbr"), QStringLiteral("crbr")};
    // Style sheets and the calculation engine hold names and formulas, not document text.
    rules.skipElements = {QStringLiteral("stylesheet"), QStringLiteral("anon-styles"),
                          QStringLiteral("calc-engine"), QStringLiteral("calc-engine-entities"),
                          QStringLiteral("headers"), QStringLiteral("footers")};
    // Numbers keeps the text of a cell in an attribute.
    rules.textAttributes = {{QStringLiteral("ct"), QStringLiteral("s")}};
    return rules;
}

} // namespace

QStringList IWorkPackage::previewImageNames()
{
    return {QStringLiteral("preview.jpg"), QStringLiteral("QuickLook/Thumbnail.jpg"),
            QStringLiteral("QuickLook/Thumbnail.png"), QStringLiteral("preview-web.jpg")};
}

QString IWorkPackage::previewPdfName()
{
    return QStringLiteral("QuickLook/Preview.pdf");
}

Result<ExtractedText> IWorkPackage::extractText(const PackageReader& package, ExtractionContext& ctx)
{
    for (const QString& name : {QStringLiteral("index.xml"), QStringLiteral("index.apxl")}) {
        QByteArray xml;
        if (package.contains(name)) {
            auto bytes = package.read(name, ctx);
            if (!bytes)
                return std::unexpected(bytes.error());
            xml = *bytes;
        } else if (package.contains(name + QStringLiteral(".gz"))) {
            auto packed = package.read(name + QStringLiteral(".gz"), ctx);
            if (!packed)
                return std::unexpected(packed.error());
            auto bytes = ZipArchive::gunzip(*packed, ctx);
            if (!bytes)
                return std::unexpected(bytes.error());
            xml = *bytes;
        } else {
            continue;
        }
        TextBuffer out(ctx);
        if (auto status = XmlText::append(xml, iWorkRules(), out); !status)
            return std::unexpected(status.error());
        return finishExtraction(out);
    }
    if (package.contains(previewPdfName())) {
        auto pdf = package.read(previewPdfName(), ctx);
        if (!pdf)
            return std::unexpected(pdf.error());
        return PdfContent::extractText(*pdf, ctx);
    }
    return contentError(ContentError::Unsupported,
                        QStringLiteral("no readable text in the package %1").arg(package.path()));
}

} // namespace platform
