// The list of recently entered tags, shared with other TagMeta programs through the
// preferences domain "com.tagmeta.shared" (key "recentlyEnteredTags"), stored at
// "$XDG_CONFIG_HOME/TagMeta/com.tagmeta.shared.plist" and written under a file lock.
//
// Most recent first, at most 201 entries, no two equal when lower-cased. Another program may
// change the list at any time, so it is re-read before every update and, for plain reads, at
// most every ten seconds. Threads: any; only the time of the last re-read is kept, under a lock.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {
class UserDefaults;
}

class TagMetaPrefs {
public:
    static inline const QString kDomain = QStringLiteral("com.tagmeta.shared");
    static inline const QString kRecentTagsKey = QStringLiteral("recentlyEnteredTags");
    // The list is cut once it holds more than this many entries.
    static constexpr int kMaxRecentTags = 200;
    // Reads re-read the shared domain at most this often.
    static constexpr double kSyncIntervalSeconds = 10.0;

    static QStringList recentTags();
    // Puts the tags that newTags adds to oldTags at the front of the list.
    static void updatePrefsRecentTags(const QStringList& oldTags, const QStringList& newTags);
    static void synchPrefs();
    static void synchPrefsIfItsBeenAWhile();

    static platform::UserDefaults& sharedDomain();
    static void resetForTesting();

    TagMetaPrefs() = delete;
};
