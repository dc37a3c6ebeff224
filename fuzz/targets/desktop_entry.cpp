// Desktop entries and the key-file format under them: any entry parses without harm and turns
// into command lines, and a key file written back reads as the same file.
#include "FuzzSupport.h"

#include "Platform/Workspace/DesktopEntry.h"
#include "Platform/Workspace/KeyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::DesktopEntry;
    using platform::KeyFile;
    const QByteArray bytes = fuzz::bytes(data, size);
    static const QStringList languages{QStringLiteral("de_DE@euro"), QStringLiteral("de_DE"), QStringLiteral("de")};
    if (const auto entry = DesktopEntry::parse(bytes, QStringLiteral("/usr/share/applications/fuzz.desktop"),
                                               QStringLiteral("fuzz.desktop"), languages)) {
        entry->execArguments();
        entry->commandLines({QStringLiteral("/tmp/a b \"c\" $d.pdf"), QStringLiteral("file:///tmp/%41")});
        entry->commandLineWithArguments({QStringLiteral("--new-window")});
    }

    const QByteArray written = KeyFile::parse(bytes).serialize();
    const QByteArray again = KeyFile::parse(written).serialize();
    if (again != written)
        fuzz::fail("a key file changes when written back a second time",
                   QString::fromUtf8(written.left(400)) + QStringLiteral(" became ") + QString::fromUtf8(again.left(400)));
    for (const QString& item : KeyFile::splitList(QString::fromUtf8(bytes)))
        if (item.isEmpty())
            fuzz::fail("splitList keeps an empty item");
    return 0;
}
