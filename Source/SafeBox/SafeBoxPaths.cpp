#include "SafeBox/SafeBoxPaths.h"

#include "Platform/DiskImage/DiskImageRuntime.h"
#include "SafeBox/SafeBoxCreator.h"

QString SafeBoxPaths::runtimeFolder()
{
    return platform::sbx::runtimeFolderPath();
}

QString SafeBoxPaths::mountPoint(const QString& storeFile)
{
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : SafeBoxCreator::mountPointFor(folder, storeFile);
}
