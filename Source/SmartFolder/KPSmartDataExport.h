// The translation of a smart folder's rules into the text of one store predicate over
// DBFileInfo, always limited to documents not in the Trash. Content rows are left out: the
// main window hands them to the full-text index.
//
// The rules are bytes anyone could have edited, so nothing of them enters the text unchecked:
// key paths come from the field table (a row whose "Left" is not its field's is dropped),
// operators from the field's own list, every string through Predicate::quoteString (and
// escapeLike where it becomes a LIKE pattern), numbers through QString::number, never a
// locale-dependent format. A row that cannot be translated adds no clause and leaves a log line.
//
// Each general clause is parenthesised before the clauses are joined, so that a clause that is
// itself a disjunction keeps its meaning under AND. Day bounds are calendar days of the local
// time zone, half-open ([start of day, start of the next day)), so that midnight belongs to its
// day and a day with a DST change is still one day.
//
// Threads: the main thread (the collection look-up reads the store's main context).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <optional>

class DataBaseEngine;

class KPSmartDataExport {
public:
    // A collection found by its nodeID (and not in the Trash): its own id and the ids of the
    // folders (type 2) at or below it, depth first.
    struct CollectionIds {
        quint64 nodeID = 0;
        QList<quint64> folderIDs;
    };

    // What the translation reads besides the rules, so that tests and the fuzz target can run
    // without a library.
    struct Environment {
        // The collection named by a rule; nullopt when it does not exist or is in the Trash.
        std::function<std::optional<CollectionIds>(quint64 nodeID)> collection;
        // The file-name extensions of a kind id.
        std::function<QStringList(qint64 kindID)> extensions;
        // Now, in UTC; day bounds are taken in the local time zone.
        QDateTime now;
    };

    // The store's collections, the file-format table and the Kit's clock.
    static Environment environment(DataBaseEngine* store);

    // Empty when "SmartData" is missing, empty or not a list of rows (a caller must not parse
    // it then); otherwise parsable predicate text ending in "isTrash == NO".
    static QString smartStringFromData(const QVariantMap& rules, const Environment& environment);
    static QString smartStringFromData(const QVariantMap& rules);
    // The same for the keyed archive DBSmartFolder.data holds; empty (and a log line) when the
    // archive does not decode to a dictionary.
    static QString smartStringFromData(const QByteArray& archive);

    // Seconds since 1 January 2001 00:00:00 UTC, the unit of CAST(n, "NSDate").
    static double referenceSeconds(const QDateTime& date);
};
