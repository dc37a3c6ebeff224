// Content hashes of files, for finding duplicates, and MD5 names of texts, for thumbnail names
// and the protected store.
//
// A document's hash must say "same content" and nothing else, because the duplicates tool
// offers to delete one of two files with equal hashes. So every doubt gives no hash rather than
// a hash of something else: a file that cannot be opened or read to its end, one that changes
// size or disappears while it is read, a package with no readable files. Package documents are
// hashed through the one inner file that holds their content (see the table in the source), so
// two copies with different previews inside still match; a package without that file is hashed
// over all of its files in sorted order, names and bytes, so the order a folder lists its
// entries in never changes the result. Files are read in 1 MiB pieces, never whole. Any thread.
#pragma once

#include <QString>
#include <functional>

class MD5Generator {
public:
    // Tuning: size of each read fed to the digest; bounds the memory of a hash.
    static constexpr qint64 kPieceSize = 1024 * 1024;

    // The content hash as 32 lower-case hexadecimal digits; null when there is none. An empty
    // file hashes its path text, so two empty files never match; a path without an extension
    // has no hash.
    static QString createMD5ByFile(const QString& path);
    // MD5 of the text's UTF-8 bytes.
    static QString createMD5ByString(const QString& text);
    // MD5 of the file's bytes, then the title's UTF-8 bytes (when given), then time as 8 bytes
    // little-endian (when not 0); null when the file cannot be read whole.
    static QString createMD5ByFile(const QString& path, const QString& title, qint64 time);

    // The item whose content stands for the document at path (the package rule).
    static QString contentPathForFile(const QString& path);

    // Test seam: called after each piece with the file and the bytes hashed from it so far.
    static void setPieceObserverForTesting(std::function<void(const QString& file, qint64 done)> observer);

    MD5Generator() = delete;
};

// MD5 of the text's UTF-8 bytes, as hash text.
QString MD5String(const QString& text);
