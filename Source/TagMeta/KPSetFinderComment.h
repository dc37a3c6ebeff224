// Setting a file's comment, as the file manager shows it.
//
// The comment is written straight into the file's "kMDItemFinderComment" attributes (value,
// time stamp and metadata copy), where the import reads it back; no script or helper program
// is involved, so nothing in the path or the comment is ever interpreted.
#pragma once

#include <QString>

class KPSetFinderComment {
public:
    // False without a comment or when any attribute write failed.
    static bool setFinderComment(const QString& comment, const QString& path);

    KPSetFinderComment() = delete;
};
