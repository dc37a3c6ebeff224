// The key-file format under desktop entries, mimeapps.list, ".directory" and ".trashinfo":
// a file read and written back must read as the same file, since we update single keys of
// files that other programs also write.
#include "FuzzSupport.h"

#include "Platform/Workspace/KeyFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::setUp();
    using platform::KeyFile;
    const QByteArray bytes = fuzz::bytes(data, size);
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
