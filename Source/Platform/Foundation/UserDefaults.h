// Persistent settings of one preferences domain, looked up over a volatile registration
// domain, stored as an XML property list in "$XDG_CONFIG_HOME/Folivo 2/<domain>.plist".
//
// Every setter writes through at once (replace-by-rename under a lock file), so a crash never
// loses a setting and another program sharing a named domain sees it; before writing, the file
// is re-read and only the changed key is applied, so that program's own keys survive.
// synchronize() re-reads the file and reports keys another process changed to observers.
// Values registered as text ("YES", "42") are converted by the typed getters, as the settings
// table registers every value that way. A damaged file is renamed aside with a warning and
// the domain starts empty; it is never overwritten unread.
//
// Threads: any. One mutex guards the values and the observer list; observers run on the
// thread that made the change, after the mutex is released.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace platform {

class UserDefaults {
    struct Private;

public:
    // The program's own domain, "com.norlith.folivo2". Lives for the whole process.
    static UserDefaults& standardUserDefaults();
    // The shared instance for another domain ("com.tagmeta.shared"); one per name per process.
    static UserDefaults& domainNamed(const QString& domain);

    // An independent instance over the domain's file (or filePath when given). Two instances
    // over one file behave like two programs sharing it; tests use this to model a restart.
    explicit UserDefaults(const QString& domain, const QString& filePath = {});
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString domain() const;
    QString filePath() const;
    // "$XDG_CONFIG_HOME/Folivo 2/<domain>.plist"
    static QString defaultFilePath(const QString& domain);

    // Fallback values, not persisted; a later registration of a key replaces the earlier one.
    void registerDefaults(const QVariantMap& defaults);

    // The stored value, else the registered one, else an invalid QVariant.
    QVariant objectForKey(const QString& key) const;
    // "YES"/"NO", "true"/"false" (any case) and numbers convert; anything else is false.
    bool boolForKey(const QString& key) const;
    // Numbers, digit strings (leading sign and spaces allowed) and booleans convert; else 0.
    qint64 integerForKey(const QString& key) const;
    double doubleForKey(const QString& key) const;
    // Strings, and numbers in their text form; else an empty string.
    QString stringForKey(const QString& key) const;
    QVariantList arrayForKey(const QString& key) const;
    QVariantMap dictionaryForKey(const QString& key) const;
    QByteArray dataForKey(const QString& key) const;

    // Setting an invalid QVariant removes the key. Values must have a property-list form;
    // a value that has none is refused with a warning and changes nothing.
    void setObject(const QVariant& value, const QString& key);
    void setBool(bool value, const QString& key);
    void setInteger(qint64 value, const QString& key);
    void setDouble(double value, const QString& key);
    void setString(const QString& value, const QString& key);
    void removeObjectForKey(const QString& key);

    // Writes anything not yet written, then takes in changes other processes made to the
    // file. False when the file could not be written.
    bool synchronize();

    // Registered values overlaid by stored ones.
    QVariantMap dictionaryRepresentation() const;

    // Called with the key and its new effective value (invalid when it went away).
    using Observer = std::function<void(const QString& key, const QVariant& value)>;

    // Keeps an observer registered while it lives. Safe to outlive the defaults object.
    class ObserverToken {
    public:
        ObserverToken() = default;
        ObserverToken(ObserverToken&& other) noexcept;
        ObserverToken& operator=(ObserverToken&& other) noexcept;
        ~ObserverToken();
        void reset();
        explicit operator bool() const { return m_id != 0; }

    private:
        friend class UserDefaults;
        ObserverToken(std::weak_ptr<Private> owner, quint64 id);
        std::weak_ptr<Private> m_owner;
        quint64 m_id = 0;
    };

    [[nodiscard]] ObserverToken addObserver(const QString& key, Observer observer);

private:
    std::shared_ptr<Private> d;
};

} // namespace platform
