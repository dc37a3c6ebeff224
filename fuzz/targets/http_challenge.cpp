// 401 and 407 challenges from a server or a proxy: parsed within their bounds, and the answer
// built for any user name never carries a line break into the header.
#include "FuzzSupport.h"

#include "Platform/HTTPStream/HTTPAuthentication.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    const QString text = fuzz::utf8(data, size);
    const QStringList values = text.split(u'\n');
    const auto challenges = platform::HTTPAuthentication::parseChallenges(values);
    if (challenges.size() > 32 * values.size())
        fuzz::fail("too many challenges kept");
    for (const auto& c : challenges)
        if (c.parameters.size() > 32)
            fuzz::fail("too many parameters kept");
    if (auto auth = platform::HTTPAuthentication::fromChallenges(values)) {
        if (const auto value = auth->apply(text.left(64), QStringLiteral("p"), "GET", "/x")) {
            if (value->contains(u'\r') || value->contains(u'\n'))
                fuzz::fail("a line break in the Authorization value", fuzz::printable(*value));
        }
    }
    return 0;
}
