#include "Utilities/KPZipArchive.h"

#include "Platform/Foundation/Dispatch.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QDir>
#include <QFileInfo>

QString KPZipArchive::unzipFolderFor(const QString& archive)
{
    return QStringLiteral("%1_F").arg(archive);
}

bool KPZipArchive::zipWithFilePath(const QString& folder, const QString& savePath)
{
    KPZipFile zip;
    if (!zip.CreateZipFile2(savePath))
        return false;
    const bool added = zip.addDirectoryToZip(folder);
    const bool closed = zip.CloseZipFile2();
    if (!added)
        QFile::remove(savePath);
    return added && closed;
}

// Extracts the archive open in zip below "<archive>_F/<name>". A failed run takes back the
// result folder when it made it, so that nothing half-extracted is left for anyone to file.
QString KPZipArchive::extractOpened(KPZipFile& zip, const QString& archive, const QString& name)
{
    const QString folder = unzipFolderFor(archive);
    QDir().mkpath(folder);
    const QString result = QStringLiteral("%1/%2").arg(folder, name);
    const bool existed = QFileInfo::exists(result);
    const bool ok = zip.UnzipFileTo(result, true);
    zip.UnzipCloseFile();
    if (!ok && !existed)
        QDir(result).removeRecursively();
    return ok ? result : QString();
}

QString KPZipArchive::unZipWithFilePath(const QString& archive, const QString& unZipName)
{
    return unZipWithFilePath(archive, unZipName, UnzipControl{});
}

QString KPZipArchive::unZipWithFilePath(const QString& archive, const QString& unZipName, const UnzipControl& control)
{
    KPZipFile zip;
    zip.setStopFlag(control.stop);
    zip.setWrittenObserver(control.written);
    if (!zip.UnzipOpenFile(archive))
        return {};
    return extractOpened(zip, archive, unZipName);
}

std::shared_ptr<KPZipArchive> KPZipArchive::initWithZipPath(const QString& folder, const QString& savePath,
                                                            ZipCompletion completion)
{
    std::shared_ptr<KPZipArchive> run(new KPZipArchive);
    run->m_source = folder;
    run->m_savePath = savePath;
    run->m_isZip = true;
    run->m_zipCompltedBlock = std::move(completion);
    return run;
}

std::shared_ptr<KPZipArchive> KPZipArchive::initWithUnZipPath(const QString& archive, const QString& fileName,
                                                              UnzipCompletion completion)
{
    std::shared_ptr<KPZipArchive> run(new KPZipArchive);
    run->m_source = archive;
    run->m_unzipFileName = fileName;
    run->m_unzipCompltedBlock = std::move(completion);
    return run;
}

void KPZipArchive::start()
{
    auto self = shared_from_this();
    platform::Dispatch::async(platform::DispatchQueue::global(), [self] {
        if (self->m_isZip)
            self->runZip();
        else
            self->runUnzip();
    });
}

void KPZipArchive::stop()
{
    m_zipArchive.cancel();
}

void KPZipArchive::runZip()
{
    bool ok = false;
    if (!m_zipArchive.CreateZipFile2(m_savePath)) {
        KPLogLogMessage(QStringLiteral("Create zip file lost!"));
    } else {
        const bool added = m_zipArchive.addDirectoryToZip(m_source);
        ok = m_zipArchive.CloseZipFile2() && added;
        if (!ok)
            KPLogLogMessage(QStringLiteral("KPZipFile add folder lost!"));
    }
    if (m_zipCompltedBlock)
        m_zipCompltedBlock(ok);
}

void KPZipArchive::runUnzip()
{
    if (!m_zipArchive.UnzipOpenFile(m_source)) {
        KPLogLogMessage(QStringLiteral("open unzip file lost!"));
        if (m_unzipCompltedBlock)
            m_unzipCompltedBlock(false, {});
        return;
    }
    const QString result = extractOpened(m_zipArchive, m_source, m_unzipFileName);
    if (result.isEmpty())
        KPLogLogMessage(QStringLiteral("unzip file lost!"));
    if (m_unzipCompltedBlock)
        m_unzipCompltedBlock(!result.isEmpty(), result);
}
