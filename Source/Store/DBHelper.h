// Turns a document's stored paths into absolute ones, writes a document's tags back into its
// file, and computes the folderID under which index-folder documents are stored and queried.
//
// Absolute paths come from the shared KPLibraryFileManager's library folder. An empty or
// malformed relative path gives an empty result, never the library folder itself, so a caller
// about to delete "the document's file" cannot be led to the whole library.
#pragma once

#include <QString>

class DBFileInfo;

class DBHelper {
public:
    // path untouched for an index-folder document; otherwise the library folder followed by
    // path. Empty for nil, an empty path or one that does not lie inside the library.
    static QString CombinFileAbsolutePath(const DBFileInfo& fileInfo);
    // The library folder followed by thumbPath (empty as above).
    static QString CombinThumbAbsolutePath(const DBFileInfo& fileInfo);
    static QString CombinFileAbsoluteByString(const QString& relativePath);
    static QString CombinThumbAbsoluteByString(const QString& relativeThumbPath);

    // Writes the names of the document's tags that are not in the trash (an empty list when
    // there are none) into its file, as TagMeta user tags and as the Finder-tags attribute.
    // Failures are logged under "DataBase"; nothing for nil or a file that is gone.
    static void writeMetaDataInfoByTags(const DBFileInfo& fileInfo);
    // The same two attributes from a list of names, for a file that has no record yet.
    static void writeTagNamesToFile(const QStringList& names, const QString& path);

    // The one formula of folderID: the 64-bit string hash of the lower-cased folder path
    // (trailing "/" dropped, except for "/").
    static quint64 folderIDForFolderPath(const QString& folderPath);
    // folderID of the folder that holds filePath (its path less the last component).
    static quint64 folderIDForFilePath(const QString& filePath);
};
