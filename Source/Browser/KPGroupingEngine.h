// Turns documents into the sections the grid shows. The general grouping groups a set of
// display models by the current group type (first letter, tags, folder, size, kind, date or
// source) and sorts each section by the current file sort; the special views of the focus
// entries build their own sections: Recent (import batches, last opened or last modified),
// Flagged (one tile per flag), Document Date (one tile per month), File Type (one tile per kind,
// with counts) and Author (one tile per author).
//
// Every operation starts by emptying the section list the engine was given (the grid's data
// source) and fills it from scratch; the special views then ask the grid to reload.
//
// Current values, always: the grouping groups by what the item shows (its title, size and
// modification date; read from the record for a model not drawn yet, which loads the same values
// when it is) and by what its record holds now (its tags, folder, extension, source and other dates). Nothing is kept between
// groupings, so new display models, documents whose tags changed and folders renamed since the
// last grouping land in the right section, and no empty section appears. Group and sort keys are
// computed once per grouping, never inside a comparison. Days are calendar days in local time
// against the interface clock's now (platform::kit::Scheduler).
//
// Nothing is hidden: documents a group type would leave out of every section (no title, a size
// of 0, unknown or of 100 GB and more, no extension, no source folder) go into one last section
// titled "Other". A group type outside 1-10 lists every document in one untitled section.
//
// Threads: main thread (the main context's records).
#pragma once

#include "Browser/KPItemData.h"
#include "Browser/KPSectionData.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantMap>
#include <array>
#include <functional>
#include <optional>

class DataBaseEngine;
class KPDataSourceManager;
class KPDataSourceSortManager;
class KPFileFormatManager;

class KPGroupingEngine {
public:
    // The per-node view setting read by the general grouping; a missing key counts as 0 or NO.
    static inline const QString kGroupTypeKey = QStringLiteral("GroupType");
    static inline const QString kGroupAscendingKey = QStringLiteral("GroupAscending");
    static inline const QString kFileTypeKey = QStringLiteral("FileType");
    static inline const QString kFileAscendingKey = QStringLiteral("FilAscending");
    // KPDocumentRecentFilterType, in "Int_DocumentRecentFilterType".
    static inline const QString kRecentFilterTypeKey = QStringLiteral("Int_DocumentRecentFilterType");
    enum KPDocumentRecentFilterType { RecentImportHistory = 0, RecentLastOpened = 1, RecentLastModified = 2 };
    // At most this many import batches in the Recent view.
    static constexpr int kImportBatchLimit = 50;

    struct Services {
        DataBaseEngine* engine = nullptr;           // null: the shared engine
        const KPFileFormatManager* formats = nullptr; // null: the shared table
        KPDataSourceManager* listed = nullptr;      // null: the shared listed set
        KPDataSourceSortManager* sort = nullptr;    // null: the shared sort settings
        // The grid's reloadData, called by the special views.
        std::function<void()> reloadData;
        // The system's last-used date of a file; null: the desktop's recently-used list.
        std::function<std::optional<QDateTime>(const QString& path)> lastUsedDate;
    };

    KPGroupingEngine(QList<KPSectionDataPtr>& sections, Services services);
    explicit KPGroupingEngine(QList<KPSectionDataPtr>& sections);

    // ---- the general grouping (the caller reloads the grid) ----
    // Groups items by the sort settings, or by setting's values, which are then stored into
    // the sort settings (each change posting "DataSourceSortingChange").
    void createDataAndFileDataByGroupSortSetting(const KPItemDataSet& items,
                                                 const std::optional<QVariantMap>& setting = std::nullopt);
    void createDataAndFillData(const KPItemDataSet& items) { createDataAndFileDataByGroupSortSetting(items); }

    // ---- the special views (each reloads the grid) ----
    void createRecentDataAndFillData();
    void createFlagDataAndFillData();
    void createDateDataAndFileDate();
    void createFileTypeAndFileData();
    void createAuthorDataAndFillData();

    // ---- tables ----
    struct SizeRange {
        QString label; // the section title, not localised
        qint64 from;   // inclusive
        qint64 below;  // exclusive
    };
    static const QList<SizeRange>& fileSizeGroups();
    // The date bucket (0 Today … 5 Earlier) of a date against now; a missing date is Earlier.
    static int dateBucket(const std::optional<QDateTime>& date, const QDateTime& now);
    // The starts of the days the buckets reach back to (today, yesterday, 7, 30 and 365 days
    // ago), for many dates against one now.
    using DateBucketLimits = std::array<QDateTime, 5>;
    static DateBucketLimits dateBucketLimits(const QDateTime& now);
    static int dateBucket(const std::optional<QDateTime>& date, const DateBucketLimits& limits);
    static QString dateBucketTitle(int bucket);
    // The letter a title is listed under (platform::sectionLetter): "Ångström" under "A",
    // "ßeta" under "S"; null for none.
    static QString firstLetterKey(const QString& title);
    // The title of an import batch made at date, seen at now: "Today 09:30 AM",
    // "Yesterday 11:02 PM" or "2012-03-05 02:00 PM".
    static QString importBatchTitle(const QDateTime& date, const QDateTime& now);

private:
    DataBaseEngine& engine() const;
    const KPFileFormatManager& formats() const;
    KPDataSourceManager& listed() const;
    KPDataSourceSortManager& sort() const;
    void reloadData() const;

    QList<KPSectionDataPtr>& m_sections;
    Services m_services;
};
