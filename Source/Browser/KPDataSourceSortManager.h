// How the listed documents are grouped into sections and sorted inside them: the group type,
// the section order, the file sort type and the file order. Read from the user defaults when
// the manager is made, written back only by saveSettingToDisk() (at quit). Every real change
// posts "DataSourceSortingChange" (object nil) synchronously; setting the current value posts
// nothing.
//
// Threads: main thread only.
#pragma once

#include <QString>

// KPGroupSortType: how the grouping engine builds sections.
enum KPGroupSortType : int {
    KPGroupSortTypeTitle = 1,        // first letter of the title
    KPGroupSortTypeTag = 2,          // the whole tag text
    KPGroupSortTypeFolder = 3,       // folder, "Uncategorized" for none
    KPGroupSortTypeSize = 4,         // size ranges
    KPGroupSortTypeKind = 5,         // kind by extension
    KPGroupSortTypeDateCreated = 6,  // date buckets of each date
    KPGroupSortTypeDateImported = 7,
    KPGroupSortTypeDateModified = 8,
    KPGroupSortTypeDateLastOpened = 9,
    KPGroupSortTypeSource = 10,      // the folder the document came from
};

class KPDataSourceSortManager {
public:
    static inline const QString kSortingChangeNotification = QStringLiteral("DataSourceSortingChange");
    static inline const QString kGroupSortTypeKey = QStringLiteral("Int_GroupSortType");
    static inline const QString kGroupAscendingKey = QStringLiteral("Bool_GroupAscending");
    static inline const QString kFileSortTypeKey = QStringLiteral("Int_FileSortType");
    static inline const QString kFileAscendingKey = QStringLiteral("Bool_FileAscending");

    static KPDataSourceSortManager& shareDataSourceSortManager();
    // Drops the shared instance; the next one reads the user defaults again.
    static void resetForTesting();

    KPDataSourceSortManager();
    KPDataSourceSortManager(const KPDataSourceSortManager&) = delete;
    KPDataSourceSortManager& operator=(const KPDataSourceSortManager&) = delete;

    int groupSortType() const { return m_groupSortType; }
    void setGroupSortType(int type);
    bool groupAscending() const { return m_groupAscending; }
    void setGroupAscending(bool ascending);
    int fileSortType() const { return m_fileSortType; }
    void setFileSortType(int type);
    bool fileAscending() const { return m_fileAscending; }
    void setFileAscending(bool ascending);

    void saveSettingToDisk() const;

private:
    template <class T>
    void change(T& field, T value);

    int m_groupSortType = KPGroupSortTypeTitle;
    bool m_groupAscending = true;
    int m_fileSortType = 1;
    bool m_fileAscending = true;
};
