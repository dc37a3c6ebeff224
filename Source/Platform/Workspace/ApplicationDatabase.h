// The installed applications (desktop entries of every "applications" folder of the XDG data
// dirs) and which of them open a MIME type or URL scheme, as the mimeapps.list files decide.
//
// Every query looks at the folders as they are now (the environment is read at each call),
// but a desktop file is parsed again only when its size or modification time changed: the
// open-with menu asks on each opening and a system holds a few hundred entries. The first
// entry of a desktop ID wins (data home before data dirs), so a user's Hidden=true copy hides
// the system's entry. Thread-safe: one mutex guards the parse cache.
//
// Choosing an application for a type walks the type and its ancestors (a C source is also
// plain text): explicit defaults first, then added associations less removed ones, then the
// entries that list the type themselves.
#pragma once

#include "Platform/Workspace/DesktopEntry.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <mutex>
#include <optional>

namespace platform {

struct MimeAppsList;

class ApplicationDatabase {
public:
    static ApplicationDatabase& shared();

    // Usable applications for a MIME type or "x-scheme-handler/<scheme>", best first; the
    // default one (when any) leads.
    QList<DesktopEntry> applicationsForMimeType(const QString& mimeType);
    std::optional<DesktopEntry> defaultApplicationForMimeType(const QString& mimeType);

    // By desktop ID ("org.gnome.Evolution.desktop"; the ".desktop" may be left out) or by the
    // path of a .desktop file; nullopt when missing or not usable.
    std::optional<DesktopEntry> applicationForId(const QString& id);
    std::optional<DesktopEntry> applicationForPath(const QString& path);

    // Every usable application, in precedence order.
    QList<DesktopEntry> allApplications();

    // The type followed by its ancestors as the MIME database knows them (just the type for
    // scheme handlers and unknown names).
    static QStringList mimeTypeChain(const QString& mimeType);

private:
    struct Snapshot {
        QHash<QString, DesktopEntry> byId; // winning entry of each ID, usable or not
        QStringList order;                 // IDs in precedence order
        QList<MimeAppsList> lists;
    };
    struct CachedEntry {
        qint64 size = -1;
        qint64 mtime = 0;
        std::optional<DesktopEntry> entry;
    };

    Snapshot snapshot();
    std::optional<DesktopEntry> cachedRead(const QString& path, const QString& id,
                                           const QStringList& languages);
    static QStringList associations(const Snapshot& s, const QString& mimeType);
    static std::optional<QString> explicitDefault(const Snapshot& s, const QString& mimeType);
    static bool usable(const Snapshot& s, const QString& id);

    std::mutex m_mutex;
    QStringList m_languages;
    QHash<QString, CachedEntry> m_cache; // by .desktop path
};

} // namespace platform
