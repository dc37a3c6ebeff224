// HTTP responses from a server: the status line, header fields, Content-Length and chunked
// framing. The first byte picks how the rest is split into pieces, since bytes arrive in any
// split; the bounds must hold and a complete response must be a final one.
#include "FuzzSupport.h"

#include "Platform/HTTPStream/HTTPResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    if (size == 0)
        return 0;
    const qsizetype step = 1 + data[0] % 64;
    const QByteArray input = fuzz::bytes(data + 1, size - 1);
    for (bool head : {false, true}) {
        platform::HTTPResponseParser parser(head);
        qsizetype taken = 0;
        for (qsizetype at = 0; at < input.size() && !parser.failed(); at += step) {
            parser.feed(input.constData() + at, std::min(step, input.size() - at));
            if (parser.bufferedBodySize() > input.size())
                fuzz::fail("more body than input");
            taken += parser.takeBody(parser.bufferedBodySize() / 2).size();
        }
        parser.finishInput();
        taken += parser.takeBody(input.size()).size();
        if (taken > input.size())
            fuzz::fail("more body than input");
        if (parser.headers().size() > platform::HTTPResponseParser::MaxHeaderFields)
            fuzz::fail("too many header fields kept");
        if (parser.isComplete() && parser.statusCode() < 200)
            fuzz::fail("an interim response taken for the answer");
        if (parser.failed() && parser.error().isEmpty())
            fuzz::fail("a failure without a reason");
    }
    return 0;
}
