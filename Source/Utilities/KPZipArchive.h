// Zips a folder or unzips an archive in one call, synchronously or on a background queue.
// Unzipped results go below "<archive>_F/<name>", beside the received archive.
#pragma once

#include "Utilities/KPZipFile.h"

#include <QString>
#include <functional>
#include <memory>

class KPZipArchive : public std::enable_shared_from_this<KPZipArchive> {
public:
    using ZipCompletion = std::function<void(bool success)>;
    using UnzipCompletion = std::function<void(bool success, const QString& resultPath)>;

    // Synchronous: true only when the archive was created, every file was added and it was
    // closed — a peer must never receive a folder with files silently missing.
    static bool zipWithFilePath(const QString& folder, const QString& savePath);
    // Synchronous: the result path "<archive>_F/<name>", or empty when the archive could not be
    // opened or was not extracted completely (a result folder the run made is then removed).
    static QString unZipWithFilePath(const QString& archive, const QString& unZipName);
    // The same, stopped (empty result) once *stop holds true, with written told the byte count
    // of each piece as it is written.
    struct UnzipControl {
        std::shared_ptr<const std::atomic<bool>> stop;
        std::function<void(qint64 bytes)> written;
    };
    static QString unZipWithFilePath(const QString& archive, const QString& unZipName, const UnzipControl& control);

    // Prepared runs; start() runs them once on the default-priority global queue, and the
    // completion runs there too, not on the main thread.
    static std::shared_ptr<KPZipArchive> initWithZipPath(const QString& folder, const QString& savePath,
                                                         ZipCompletion completion);
    static std::shared_ptr<KPZipArchive> initWithUnZipPath(const QString& archive, const QString& fileName,
                                                           UnzipCompletion completion);
    void start();
    // Stops a zip run between two files, an unzip run between two pieces of an entry.
    void stop();

    // "<archive>_F"
    static QString unzipFolderFor(const QString& archive);

private:
    KPZipArchive() = default;
    static QString extractOpened(KPZipFile& zip, const QString& archive, const QString& name);
    void runZip();
    void runUnzip();

    QString m_source;
    QString m_savePath;
    QString m_unzipFileName;
    bool m_isZip = false;
    KPZipFile m_zipArchive;
    ZipCompletion m_zipCompltedBlock;
    UnzipCompletion m_unzipCompltedBlock;
};
