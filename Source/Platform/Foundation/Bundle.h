// The program's bundle: the folder of resources installed beside the executable, and the
// information dictionary (Info.plist) that names and versions the program.
//
// Resources are plain files on disk rather than compiled-in Qt resources because callers list
// them by type (fonts, themes) and hand their paths to other libraries. The folder is
// $FOLIVO_RESOURCES when that names a folder (tests, running from elsewhere), else
// <executable folder>/../share/folivo2, where the build and installs put it.
// Threads: any; the info dictionary is read once, under a lock.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <memory>

namespace platform {

class Bundle {
public:
    // Created on first use; lives for the whole process.
    static Bundle& mainBundle();

    // A bundle over any resource folder (tests).
    explicit Bundle(const QString& resourcePath);
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    QString resourcePath() const;

    // Info.plist of the resource folder; empty (with a warning, once) when it is unreadable.
    QVariantMap infoDictionary() const;
    QVariant objectForInfoDictionaryKey(const QString& key) const;
    // "CFBundleIdentifier", e.g. "com.norlith.folivo2".
    QString bundleIdentifier() const;

    // The file name+"."+type (type may be empty, or name may carry its extension) in
    // subdirectory, else in the language folder (<lang>.lproj, then en.lproj) below it.
    // Empty when there is none or the name would lead outside the resource folder.
    QString pathForResource(const QString& name, const QString& type,
                            const QString& subdirectory = {}) const;
    // Every file ending in "."+type (every file when type is empty) in subdirectory and its
    // language folder, sorted by name.
    QStringList pathsForResourcesOfType(const QString& type, const QString& subdirectory = {}) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
