#include "SmartFolder/KPSmartDataExport.h"

#include "Import/KPFileFormatManager.h"
#include "Platform/Foundation/KeyedUnarchiver.h"
#include "Platform/Foundation/VariantNumbers.h"
#include "Platform/Kit/Scheduler.h"
#include "Platform/ObjectStore/Predicate/Predicate.h"
#include "SmartFolder/SmartFolderRules.h"
#include "Store/DBNode.h"
#include "Store/DataBaseEngine.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <QSet>
#include <cmath>

using platform::Predicate;
using namespace SmartFolderRules;

namespace {

void logDropped(const QVariantMap& rule, const QString& why)
{
    KPLogLogMessage(QStringLiteral("smart-folder rule \"%1\" %2 dropped: %3")
                        .arg(rule.value(kTitleKey).toString(), rule.value(kCenterKey).toString(), why));
}

QString quoted(const QString& text)
{
    return Predicate::quoteString(text);
}

QString decimal(double value)
{
    // Never a printf format: under a decimal-comma locale it would write "1,5".
    return QString::number(value, 'f', 6);
}

// Archived rules may carry YES/NO where a count is meant, so booleans count as numbers here.
bool isNumber(const QVariant& value)
{
    return value.typeId() == QMetaType::Bool || platform::isNumberType(value.typeId());
}

std::optional<qint64> integerValue(const QVariant& value)
{
    if (!isNumber(value))
        return std::nullopt;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double d = value.toDouble();
        if (!std::isfinite(d) || std::fabs(d) > 9.0e15)
            return std::nullopt;
        return static_cast<qint64>(d);
    }
    bool ok = false;
    const qint64 n = value.toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

std::optional<QString> textValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

// ---- dates ----

QDateTime startOf(const QDate& day)
{
    return day.startOfDay(Qt::LocalTime);
}

QString castDate(const QDateTime& date)
{
    return QStringLiteral("CAST(%1, \"NSDate\")").arg(decimal(KPSmartDataExport::referenceSeconds(date)));
}

// [first, end) as half-open window of whole local days.
struct DayWindow {
    QDate first;
    QDate end; // the day after the last
    bool valid() const { return first.isValid() && end.isValid() && first < end; }
};

QString windowClause(const QString& left, const DayWindow& w)
{
    return QStringLiteral("%1 >= %2 && %1 < %3").arg(left, castDate(startOf(w.first)), castDate(startOf(w.end)));
}

QDate firstOfMonth(const QDate& day)
{
    return QDate(day.year(), day.month(), 1);
}

QString dateClause(const QVariantMap& rule, const QString& left, const QDateTime& now)
{
    const QVariantMap right = rule.value(kRightKey).toMap();
    const QString op = rule.value(kCenterKey).toString();
    const QDate today = now.toLocalTime().date();
    const int weekday = today.dayOfWeek() % 7; // 0 = Sunday
    DayWindow w;

    if (right.value(QStringLiteral("IsToDay")).toBool()) {
        w = {today, today.addDays(1)};
    } else if (right.value(QStringLiteral("IsYerterday")).toBool()) {
        w = {today.addDays(-1), today};
    } else if (right.value(QStringLiteral("IsThisWeek")).toBool()) {
        const QDate sunday = today.addDays(-weekday);
        w = {sunday, sunday.addDays(7)};
    } else if (right.value(QStringLiteral("IsLastWeek")).toBool()) {
        const QDate sunday = today.addDays(-weekday);
        w = {sunday.addDays(-7), sunday};
    } else if (right.value(QStringLiteral("IsThisMonth")).toBool()) {
        w = {firstOfMonth(today), firstOfMonth(today).addMonths(1)};
    } else if (right.value(QStringLiteral("IsLastMonth")).toBool()) {
        w = {firstOfMonth(today).addMonths(-1), firstOfMonth(today)};
    } else if (right.contains(QStringLiteral("IntValue"))) {
        const std::optional<qint64> n = integerValue(right.value(QStringLiteral("IntValue")));
        const std::optional<qint64> unit = integerValue(right.value(QStringLiteral("Index")));
        // Beyond this a window would start before any calendar Qt keeps.
        constexpr qint64 kMaxCount = 100000;
        if (!n || *n < 0 || *n > kMaxCount || !unit || *unit < 0 || *unit > 2) {
            logDropped(rule, QStringLiteral("\"in the last\" needs a count of 0 to %1 and a unit 0–2").arg(kMaxCount));
            return {};
        }
        QDate first;
        if (*unit == 0) {
            first = today.addDays(-*n);
        } else if (*unit == 1) {
            first = today.addDays(-*n * 7);
        } else {
            // The same day of the month N months ago; a day that month lacks runs on into the
            // next month, as the rule has always meant.
            const QDate month = firstOfMonth(today).addMonths(-static_cast<int>(*n));
            first = month.addDays(today.day() - 1);
        }
        w = {first, today.addDays(1)};
    } else if (right.contains(QStringLiteral("Date"))) {
        const QVariant value = right.value(QStringLiteral("Date"));
        if (value.typeId() != QMetaType::QDateTime || !value.toDateTime().isValid()) {
            logDropped(rule, QStringLiteral("\"Date\" is not a date"));
            return {};
        }
        const QDate day = value.toDateTime().toLocalTime().date();
        const DayWindow d{day, day.addDays(1)};
        if (!d.valid()) {
            logDropped(rule, QStringLiteral("the date is out of range"));
            return {};
        }
        if (op == QStringLiteral("=="))
            return windowClause(left, d);
        if (op == QStringLiteral("!="))
            return QStringLiteral("%1 < %2 || %1 >= %3").arg(left, castDate(startOf(d.first)), castDate(startOf(d.end)));
        if (op == QStringLiteral("AFTER"))
            return QStringLiteral("%1 >= %2").arg(left, castDate(startOf(d.end)));
        if (op == QStringLiteral("BEFORE"))
            return QStringLiteral("%1 < %2").arg(left, castDate(startOf(d.first)));
        logDropped(rule, QStringLiteral("no such operator for a date"));
        return {};
    } else {
        logDropped(rule, QStringLiteral("no date value"));
        return {};
    }
    if (!w.valid()) {
        logDropped(rule, QStringLiteral("the date window is out of range"));
        return {};
    }
    return windowClause(left, w);
}

// ---- the other fields ----

QString textClause(const QVariantMap& rule, const QString& left, const QString& op)
{
    const std::optional<QString> value = textValue(rule.value(kRightKey));
    if (!value) {
        logDropped(rule, QStringLiteral("the value is not text"));
        return {};
    }
    if (op == QStringLiteral("DONTCONTAINS"))
        return QStringLiteral("!(%1 CONTAINS[cd] %2)").arg(left, quoted(*value));
    return QStringLiteral("%1 %2 %3").arg(left, op, quoted(*value));
}

// Tag and Author rows; many is "tags" or "authors".
QString nameClause(const QVariantMap& rule, const QString& many, const QString& op)
{
    const std::optional<QString> value = textValue(rule.value(kRightKey));
    if (!value) {
        logDropped(rule, QStringLiteral("the name is not text"));
        return {};
    }
    if (value->isEmpty() && (op == QStringLiteral("==") || op == QStringLiteral("!=")))
        return QStringLiteral("%1.@count == 0").arg(many);
    if (op == QStringLiteral("=="))
        return QStringLiteral("(ANY %1.name == %2)").arg(many, quoted(*value));
    // Documents without a name of that value, those without any name included.
    if (op == QStringLiteral("!="))
        return QStringLiteral("NOT (ANY %1.name == %2)").arg(many, quoted(*value));
    return QStringLiteral("(ANY %1.name %2 %3)").arg(many, op, quoted(*value));
}

QString documentSourceClause(const QVariantMap& rule, const QString& op)
{
    const std::optional<QString> value = textValue(rule.value(kRightKey));
    if (!value) {
        logDropped(rule, QStringLiteral("the folder path is not text"));
        return {};
    }
    if (value->size() < 2) {
        // The library's own documents: "==" adds nothing, "!=" keeps the indexed ones.
        return op == QStringLiteral("==") ? QString() : QStringLiteral("isIndex == YES");
    }
    QString folder = *value;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    // Whole components, exact case: "/a/b" holds "/a/b/x", never "/a/bc/x".
    const QString inside = QStringLiteral("path == %1 || path BEGINSWITH %2")
                               .arg(quoted(folder), quoted(folder == QStringLiteral("/") ? folder : folder + QLatin1Char('/')));
    if (op == QStringLiteral("=="))
        return QStringLiteral("(isIndex == YES && (%1))").arg(inside);
    return QStringLiteral("(isIndex == YES && !(%1))").arg(inside);
}

QString fileTypeClause(const QVariantMap& rule, const QString& op, const KPSmartDataExport::Environment& env)
{
    const std::optional<qint64> kind = integerValue(rule.value(kRightKey));
    if (!kind) {
        logDropped(rule, QStringLiteral("the kind is not a number"));
        return {};
    }
    const QStringList extensions = env.extensions ? env.extensions(*kind) : QStringList();
    QStringList parts;
    for (const QString& extension : extensions) {
        const QString like = QStringLiteral("pathExtension like[cd] %1").arg(quoted(Predicate::escapeLike(extension)));
        parts.append(op == QStringLiteral("==") ? QStringLiteral("(%1)").arg(like) : QStringLiteral("!(%1)").arg(like));
    }
    return parts.join(op == QStringLiteral("==") ? QStringLiteral(" || ") : QStringLiteral(" && "));
}

QString sizeClause(const QVariantMap& rule, const QString& left, const QString& op)
{
    const QVariant right = rule.value(kRightKey);
    const QVariantMap size = right.toMap();
    const QVariant amount = size.value(QStringLiteral("Size"));
    const std::optional<qint64> unit = integerValue(size.value(QStringLiteral("Index")));
    if (right.typeId() != QMetaType::QVariantMap || !isNumber(amount) || !unit || *unit < 0 || *unit > 2) {
        logDropped(rule, QStringLiteral("the size needs a number and a unit 0–2"));
        return {};
    }
    const double bytes = amount.toDouble() * std::pow(1024.0, static_cast<double>(*unit + 1));
    if (!std::isfinite(bytes)) {
        logDropped(rule, QStringLiteral("the size is not finite"));
        return {};
    }
    return QStringLiteral("%1 %2 %3").arg(left, op, decimal(bytes));
}

QString numberClause(const QVariantMap& rule, const QString& left, const QString& op)
{
    const std::optional<qint64> value = integerValue(rule.value(kRightKey));
    if (!value) {
        logDropped(rule, QStringLiteral("the value is not a number"));
        return {};
    }
    return QStringLiteral("%1 %2 %3").arg(left, op, QString::number(*value));
}

QString collectionClause(const QVariantMap& rule, const QString& op, const KPSmartDataExport::Environment& env)
{
    const QVariant right = rule.value(kRightKey);
    if (!isNumber(right)) {
        logDropped(rule, QStringLiteral("the collection is not a number"));
        return {};
    }
    bool ok = false;
    const quint64 id = right.toULongLong(&ok);
    std::optional<KPSmartDataExport::CollectionIds> found;
    if (ok && id != 0 && env.collection)
        found = env.collection(id);
    if (!found) {
        // No collection (or one deleted or trashed since): every document, or those in a node.
        return op == QStringLiteral("==") ? QStringLiteral("(node.nodeID >= 0 || node == nil)")
                                          : QStringLiteral("node != nil");
    }
    if (found->folderIDs.isEmpty()) {
        // Nothing collected in it: no document is in it.
        return QStringLiteral("(node.nodeID %1 %2)").arg(op, QString::number(found->nodeID));
    }
    QStringList terms;
    for (quint64 folder : found->folderIDs)
        terms.append(QStringLiteral("node.nodeID == %1").arg(QString::number(folder)));
    const QString any = terms.join(QStringLiteral(" OR "));
    return op == QStringLiteral("==") ? any : QStringLiteral("!(%1)").arg(any);
}

// The clause of one row; empty when it adds none. isCollection tells which list it joins.
QString clauseOf(const QVariantMap& rule, const KPSmartDataExport::Environment& env, bool& isCollection)
{
    isCollection = false;
    const QString title = rule.value(kTitleKey).toString();
    const QString left = rule.value(kLeftKey).toString();
    const QString op = rule.value(kCenterKey).toString();
    const SmartField* field = smartFieldForTitle(title);
    if (!field || field->left != left) {
        logDropped(rule, QStringLiteral("unknown field \"%1\" on \"%2\"").arg(title, left));
        return {};
    }
    if (op == QStringLiteral("-") || !field->operators.contains(op)) {
        logDropped(rule, QStringLiteral("no such operator for this field"));
        return {};
    }
    switch (field->type) {
    case SmartRowText: return textClause(rule, left, op);
    case SmartRowFileType: return fileTypeClause(rule, op, env);
    case SmartRowDate: return dateClause(rule, left, env.now);
    case SmartRowSize: return sizeClause(rule, left, op);
    case SmartRowLabel:
    case SmartRowRating: return numberClause(rule, left, op);
    case SmartRowTag: return nameClause(rule, QStringLiteral("tags"), op);
    case SmartRowAuthor: return nameClause(rule, QStringLiteral("authors"), op);
    case SmartRowCollection: isCollection = true; return collectionClause(rule, op, env);
    case SmartRowDocumentSource: return documentSourceClause(rule, op);
    case SmartRowContent: return {};
    }
    return {};
}

void collectFolders(const DBNode& node, QSet<const void*>& seen, QList<quint64>& ids)
{
    if (!node || seen.contains(node.object().get()))
        return;
    seen.insert(node.object().get());
    if (node.type() == DBNode::Folder)
        ids.append(node.nodeID());
    for (const DBNode& child : node.children())
        collectFolders(child, seen, ids);
}

} // namespace

double KPSmartDataExport::referenceSeconds(const QDateTime& date)
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return static_cast<double>(reference.msecsTo(date)) / 1000.0;
}

KPSmartDataExport::Environment KPSmartDataExport::environment(DataBaseEngine* store)
{
    Environment env;
    env.now = platform::kit::Scheduler::current().now();
    env.extensions = [](qint64 kind) { return KPFileFormatManager::fileFormatManager().extenstionsByKindID(kind); };
    env.collection = [store](quint64 nodeID) -> std::optional<CollectionIds> {
        if (!store || !store->isOpen())
            return std::nullopt;
        auto predicate = Predicate::format(QStringLiteral("nodeID == %@ && isTrash == NO"), {QVariant::fromValue(nodeID)});
        if (!predicate)
            return std::nullopt;
        auto rows = store->queryRecordByName(DBNode::entityName(), *predicate);
        if (!rows || rows->isEmpty())
            return std::nullopt;
        const DBNode node(rows->last());
        if (!node || node.isDeleted())
            return std::nullopt;
        CollectionIds ids;
        ids.nodeID = node.nodeID();
        QSet<const void*> seen;
        collectFolders(node, seen, ids.folderIDs);
        return ids;
    };
    return env;
}

QString KPSmartDataExport::smartStringFromData(const QVariantMap& rules)
{
    return smartStringFromData(rules, environment(DataBaseEngine::dataBaseEngine()));
}

QString KPSmartDataExport::smartStringFromData(const QByteArray& archive)
{
    auto decoded = platform::KeyedUnarchiver::unarchiveObject(archive);
    if (!decoded || decoded->typeId() != QMetaType::QVariantMap) {
        KPLogLogMessage(QStringLiteral("smart-folder rules unreadable: %1")
                            .arg(decoded ? QStringLiteral("not a dictionary") : decoded.error().toString()));
        return {};
    }
    return smartStringFromData(decoded->toMap());
}

QString KPSmartDataExport::smartStringFromData(const QVariantMap& rules, const Environment& env)
{
    const QVariant data = rules.value(kSmartDataKey);
    if (data.typeId() != QMetaType::QVariantList) {
        if (data.isValid())
            KPLogLogMessage(QStringLiteral("smart-folder rules: \"SmartData\" is not a list"));
        return {};
    }
    QVariantList rows = data.toList();
    if (rows.isEmpty())
        return {};
    if (rows.size() > kMaxRules) {
        KPLogLogMessage(QStringLiteral("smart-folder rules: %1 rows, only the first %2 are used").arg(rows.size()).arg(kMaxRules));
        rows = rows.mid(0, kMaxRules);
    }
    const QString joiner = matchesAll(rules) ? QStringLiteral(" AND ") : QStringLiteral(" OR ");

    QStringList general;
    QString collections;
    for (const QVariant& row : rows) {
        if (row.typeId() != QMetaType::QVariantMap) {
            KPLogLogMessage(QStringLiteral("smart-folder rules: a row that is not a dictionary dropped"));
            continue;
        }
        const QVariantMap rule = row.toMap();
        if (rule.value(kLeftKey).toString() == kContentLeft)
            continue;
        bool isCollection = false;
        const QString clause = clauseOf(rule, env, isCollection);
        if (clause.isEmpty())
            continue;
        if (!isCollection)
            general.append(clause);
        else if (collections.isEmpty())
            collections = clause;
        else
            collections = QStringLiteral("(%1)%2(%3)").arg(collections, joiner, clause);
    }

    QString joined;
    if (general.size() == 1) {
        joined = general.first();
    } else if (general.size() > 1) {
        QStringList wrapped;
        for (const QString& clause : general)
            wrapped.append(QStringLiteral("(%1)").arg(clause));
        joined = wrapped.join(joiner);
    }
    QString combined;
    if (!joined.isEmpty() && !collections.isEmpty())
        combined = QStringLiteral("(%1) AND (%2)").arg(joined, collections);
    else
        combined = joined.isEmpty() ? collections : joined;
    if (combined.isEmpty())
        return QStringLiteral("isTrash == NO");
    return QStringLiteral("(%1) AND isTrash == NO").arg(combined);
}
