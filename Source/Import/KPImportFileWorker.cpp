#include "Import/KPImportFileWorker.h"

#include "Import/KPImportKeys.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Paths.h"
#include "Store/KPLibraryFileManager.h"
#include "Store/DBHelper.h"
#include "TagMeta/TagMeta.h"
#include "Utilities/FileHelpers.h"
#include "Utilities/ImageQuickLook.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QFile>
#include <QFileInfo>
#include <mutex>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Error;
using platform::FileManager;
using platform::Result;

namespace {

std::mutex& copySeamMutex()
{
    static std::mutex m;
    return m;
}

KPImportFileWorker::CopyFunction& copySeam()
{
    static KPImportFileWorker::CopyFunction f;
    return f;
}

KPImportFileWorker::ThumbFunction& thumbSeam()
{
    static KPImportFileWorker::ThumbFunction f;
    return f;
}

KPImportFileWorker::PreviewFunction& previewSeam()
{
    static KPImportFileWorker::PreviewFunction f;
    return f;
}

void logImport(const QString& message)
{
    KPLogLogDomainMessage(QStringLiteral("Import"), 0, message);
}

bool isInsideFolder(const QString& path, const QString& folder)
{
    if (folder.isEmpty())
        return false;
    if (platform::Paths::isPathInside(path, folder))
        return true;
    // A path reaching the library through a link is inside it as well.
    const QString realPath = QFileInfo(path).canonicalFilePath();
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    return !realPath.isEmpty() && !realFolder.isEmpty() && platform::Paths::isPathInside(realPath, realFolder);
}

} // namespace

KPImportFileWorker::KPImportFileWorker(const KPLibraryFileManager& library, const QStringList& newTags)
    : m_library(library)
    , m_newTags(newTags)
    , m_journal(library.workFolder())
{
}

void KPImportFileWorker::setCopyFunctionForTesting(CopyFunction copy)
{
    std::lock_guard lock(copySeamMutex());
    copySeam() = std::move(copy);
}

void KPImportFileWorker::setThumbFunctionForTesting(ThumbFunction thumb)
{
    std::lock_guard lock(copySeamMutex());
    thumbSeam() = std::move(thumb);
}

void KPImportFileWorker::setPreviewFunctionForTesting(PreviewFunction preview)
{
    std::lock_guard lock(copySeamMutex());
    previewSeam() = std::move(preview);
}

QImage KPImportFileWorker::preview(const QString& source) const
{
    PreviewFunction seam;
    {
        std::lock_guard lock(copySeamMutex());
        seam = previewSeam();
    }
    if (seam)
        return seam(source);
    return imageWithPreviewOfFileAtPath(source, kQuickLookPreviewSize, false);
}

KPImportFileWorker::Metadata KPImportFileWorker::readMetadata(const QString& source) const
{
    Metadata meta;
    meta.tags = userTagsOfFile(source);
    meta.tags += m_newTags;
    meta.rate = int(TagMeta::getRating(source));
    meta.authors = authorsOfFile(source);
    meta.comment = TagMeta::getString(TagMeta::kMDItemFinderComment, source);
    if (meta.comment.isNull())
        meta.comment = QStringLiteral("");
    meta.finderLabel = finderLabelOfFile(source);
    return meta;
}

KPPreparedFile KPImportFileWorker::prepare(const QString& source, bool withMetadata) const
{
    KPPreparedFile prepared;
    prepared.source = source;
    prepared.preview = preview(source);
    if (auto encoded = KPLibraryFileManager::encodeThumbnail(prepared.preview))
        prepared.thumbnail = std::move(*encoded);
    // else writeThumb() encodes once more and reports why it fails
    if (withMetadata)
        prepared.metadata = readMetadata(source);
    return prepared;
}

void KPImportFileWorker::writeGivenTags(const QString& copyPath, const Metadata& metadata) const
{
    // The copy carries the source's own tags already; tags given at the import exist only in
    // the record unless they are written too, and the file must say what the library says.
    if (m_newTags.isEmpty())
        return;
    QStringList names = metadata.tags;
    names.removeDuplicates();
    DBHelper::writeTagNamesToFile(names, copyPath);
}

Result<QString> KPImportFileWorker::copyIn(const QString& source) const
{
    const QString what = QStringLiteral("Could not import \"%1\"").arg(source);
    struct stat st {};
    if (::lstat(QFile::encodeName(source).constData(), &st) != 0)
        return std::unexpected(Error::posix(errno, what));
    // A link's target may lie anywhere, the library included; only what was really dropped.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return platform::fail(QStringLiteral("POSIX"), EINVAL, what + QStringLiteral(": not a file or package"));

    CopyFunction copy;
    {
        std::lock_guard lock(copySeamMutex());
        copy = copySeam();
    }
    const KPLibraryFileManager::BeforeClaim beforeClaim = [this](const KPLibraryFileManager::StagedItem& item) {
        return m_journal.note(item);
    };
    Result<QString> relative = copy ? copy(m_library, source, beforeClaim) : m_library.addFile(source, beforeClaim);
    if (!relative)
        return std::unexpected(relative.error());
    const QString copyPath = m_library.CombinFileAbsolutePath(*relative);
    if (copyPath.isEmpty())
        return platform::fail(QStringLiteral("POSIX"), EINVAL, what + QStringLiteral(": the copy is not in the library"));

    Result<void> checked = FileManager::verifyCopy(source, copyPath);
    if (!checked) {
        if (FileManager::itemExists(copyPath))
            (void)FileManager::removeItem(copyPath);
        return std::unexpected(Error{checked.error().domain, checked.error().code,
                                     QStringLiteral("%1: %2").arg(what, checked.error().message)});
    }
    m_unflushed.append(copyPath);
    return copyPath;
}

Result<void> KPImportFileWorker::flushCopies() const
{
    Result<void> flushed = m_library.flushItems(m_unflushed);
    if (flushed)
        m_unflushed.clear();
    return flushed;
}

QString KPImportFileWorker::writeThumb(const QString& copyPath, const KPPreparedFile& prepared) const
{
    const QImage& image = prepared.preview;
    const QString relative = m_library.removeAbsolutePath(copyPath);
    ThumbFunction seam;
    {
        std::lock_guard lock(copySeamMutex());
        seam = thumbSeam();
    }
    // Not flushed one by one: flushCopies() flushes them with the copies, after all were
    // written and before any record names them.
    constexpr auto byCaller = KPLibraryFileManager::ThumbFlush::ByCaller;
    Result<QString> thumb = seam                            ? seam(m_library, relative, image)
                            : !prepared.thumbnail.isEmpty() ? m_library.addThumbData(relative, prepared.thumbnail, byCaller)
                                                            : m_library.addThumbByFile(relative, image, byCaller);
    if (!thumb) {
        // The document is still imported; its preview can be rebuilt later.
        logImport(thumb.error().toString());
        return QString();
    }
    const QString path = m_library.CombinFileAbsolutePath(*thumb);
    m_unflushed.append(path);
    return path;
}

KPImportedFile KPImportFileWorker::makeRecord(const QString& source, const QString& copyPath,
                                              const QString& thumbPath, const Metadata& metadata) const
{
    KPImportedFile file;
    file.source = source;
    file.copyPath = copyPath;
    file.thumbPath = thumbPath;
    QVariantMap& record = file.record;
    record.insert(KPImportKeys::Path, m_library.removeAbsolutePath(copyPath));
    if (!thumbPath.isEmpty())
        record.insert(KPImportKeys::Thumb, m_library.removeAbsolutePath(thumbPath));
    record.insert(KPImportKeys::Tags, metadata.tags);
    record.insert(KPImportKeys::Original, source);
    record.insert(KPImportKeys::Rate, metadata.rate);
    record.insert(KPImportKeys::Authors, metadata.authors);
    record.insert(KPImportKeys::Comment, metadata.comment);
    record.insert(KPImportKeys::FinderLabel, metadata.finderLabel);
    record.insert(KPImportKeys::IsIndex, false);
    return file;
}

bool KPImportFileWorker::discard(const KPImportedFile& file) const
{
    bool gone = true;
    for (const QString& path : {file.copyPath, file.thumbPath}) {
        if (path.isEmpty() || !platform::Paths::isPathInside(path, m_library.workFolder()))
            continue;
        if (auto removed = FileManager::removeItem(path); !removed && FileManager::itemExists(path)) {
            logImport(removed.error().toString());
            gone = false;
        }
    }
    return gone;
}

void KPImportFileWorker::forgetCopies() const
{
    m_journal.forget();
}

bool KPImportFileWorker::removeSource(const KPImportedFile& file) const
{
    if (isInsideFolder(file.source, m_library.workFolder())) {
        logImport(QStringLiteral("Kept \"%1\": it lies inside the library").arg(file.source));
        return false;
    }
    // The source may have changed since it was copied; then the copy is not the document.
    if (auto same = FileManager::verifyCopy(file.source, file.copyPath); !same) {
        logImport(QStringLiteral("Kept \"%1\": %2").arg(file.source, same.error().toString()));
        return false;
    }
    if (auto removed = FileManager::removeItem(file.source); !removed) {
        logImport(removed.error().toString());
        return false;
    }
    return true;
}
