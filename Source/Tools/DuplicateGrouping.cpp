#include "Tools/DuplicateGrouping.h"

#include "Tools/LocalizedCount.h"

#include <algorithm>

namespace DuplicateGrouping {

QList<QList<DuplicateRecordInfo>> groups(QList<DuplicateRecordInfo> records)
{
    std::stable_sort(records.begin(), records.end(),
                     [](const DuplicateRecordInfo& a, const DuplicateRecordInfo& b) { return a.md5 > b.md5; });
    QList<QList<DuplicateRecordInfo>> found;
    for (qsizetype first = 0; first < records.size();) {
        qsizetype end = first + 1;
        while (end < records.size() && records.at(end).md5 == records.at(first).md5)
            ++end;
        if (end - first >= 2) {
            QList<DuplicateRecordInfo> group = records.mid(first + 1, end - first - 1);
            group.append(records.at(first));
            found.append(group);
        }
        first = end;
    }
    return found;
}

QList<bool> initialChecks(qsizetype rows)
{
    QList<bool> checks(rows, true);
    if (!checks.isEmpty())
        checks.first() = false;
    return checks;
}

void settleCheck(QList<bool>& checks, qsizetype row)
{
    if (row < 0 || row >= checks.size() || !checks.at(row))
        return;
    if (std::all_of(checks.cbegin(), checks.cend(), [](bool checked) { return checked; }))
        checks[row] = false;
}

int groupHeight(qsizetype rows)
{
    return std::max(120, int(28 * rows + 34 + 6));
}

QString fileSizeText(qint64 bytes)
{
    const double size = double(bytes);
    if (bytes >= 1073741824)
        return QStringLiteral("%1 GB").arg(size / 1073741824.0, 0, 'f', 2);
    if (bytes >= 1048576)
        return QStringLiteral("%1 MB").arg(size / 1048576.0, 0, 'f', 2);
    if (bytes >= 1024)
        return QStringLiteral("%1 KB").arg(size / 1024.0, 0, 'f', 2);
    return QStringLiteral("%1 bytes").arg(size, 0, 'f', 0);
}

QString groupCountText(qsizetype groups)
{
    return localizedCount(groups < 2 ? QStringLiteral("%ld item") : QStringLiteral("%ld items"), groups);
}

} // namespace DuplicateGrouping
