#include "TagMeta/KPSetFinderComment.h"

#include "TagMeta/TagMeta.h"

bool KPSetFinderComment::setFinderComment(const QString& comment, const QString& path)
{
    if (comment.isNull())
        return false;
    return TagMeta::setString(comment, TagMeta::kMDItemFinderComment, path).has_value();
}
