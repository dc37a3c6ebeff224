// Desktop entries: any entry parses without harm and turns into command lines.
#include "FuzzSupport.h"

#include "Platform/Workspace/DesktopEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::DesktopEntry;
    const QByteArray bytes = fuzz::bytes(data, size);
    static const QStringList languages{QStringLiteral("de_DE@euro"), QStringLiteral("de_DE"), QStringLiteral("de")};
    if (const auto entry = DesktopEntry::parse(bytes, QStringLiteral("/usr/share/applications/fuzz.desktop"),
                                               QStringLiteral("fuzz.desktop"), languages)) {
        entry->execArguments();
        entry->commandLines({QStringLiteral("/tmp/a b \"c\" $d.pdf"), QStringLiteral("file:///tmp/%41")});
        entry->commandLineWithArguments({QStringLiteral("--new-window")});
    }

    return 0;
}
