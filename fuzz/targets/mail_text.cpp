// Mail messages (.eml and the .emlx wrapper): their text, and the senders the metadata reader
// names as a message's authors.
#include "ContentLimits.h"
#include "FuzzSupport.h"

#include "Platform/Content/MailText.h"
#include "Platform/Metadata/DocumentAuthors.h"
#include "Platform/Metadata/MailAddresses.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::MailText;
    const QByteArray bytes = fuzz::bytes(data, size);
    const QByteArrayView message = MailText::emlxMessage(bytes);
    platform::ExtractionContext ctx(fuzz::contentLimits());
    MailText::extract(message, ctx);
    platform::DocumentAuthors::fromMailMessage(bytes);
    if (const auto to = platform::MailAddresses::headerField(message, "To"))
        platform::MailAddresses::parse(*to);
    MailText::decodeHeader(message.first(qMin<qsizetype>(message.size(), 2048)));
    return 0;
}
