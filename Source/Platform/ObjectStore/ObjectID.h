// The identity of one record: entity, primary key and the store it belongs to.
//
// Every record gets its primary key when it is inserted (keys come from a per-table counter and
// are never handed out twice, so a deleted record's URI can never name another record). The ID
// is nevertheless "temporary" until the record reaches the store or obtainPermanentIDs is
// called; that flag lives in a small state shared by every copy of the ID, so when it flips
// every holder sees the permanent ID at once, and equality and hashing (entity table + key)
// never change on the way.
//
// URI format (stored in favourites and the full-text index; never change it):
//   permanent  "x-folivo-store://<STORE-UUID>/<Entity>/p<pk>"
//   temporary  "x-folivo-store:///<Entity>/t<TOKEN>"  (TOKEN: a UUID, upper case, no braces)
#pragma once

#include "Platform/ObjectStore/EntityDescription.h"
#include "Platform/ObjectStore/ManagedObjectModel.h"

#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>

namespace platform {

// Which store IDs belong to; shared by the coordinator and every ID it made. The UUID is set
// when a store file is added (read from it or made for it).
class StoreIdentity {
public:
    explicit StoreIdentity(ModelPtr model) : m_model(std::move(model)) {}
    QString uuid() const;
    void setUuid(const QString& uuid);
    const ModelPtr& model() const { return m_model; }

private:
    mutable std::mutex m_mutex;
    QString m_uuid;
    ModelPtr m_model; // keeps the entity descriptions of every ID alive
};

namespace detail {
struct ObjectIDState {
    std::shared_ptr<StoreIdentity> store;
    std::atomic<bool> temporary{false};
    // Only for IDs born temporary: made when the temporary URI is first asked for, since most
    // new records never show theirs.
    const QString& token() const;

private:
    mutable std::once_flag m_tokenOnce;
    mutable QString m_token;
};
} // namespace detail

class ObjectID {
public:
    ObjectID() = default;

    bool isNull() const { return m_entity == nullptr; }
    const EntityDescription* entity() const { return m_entity; }
    bool isTemporaryID() const { return m_state && m_state->temporary.load(); }
    QString URIRepresentation() const;
    // Store-internal key; stable from insertion on.
    qint64 primaryKey() const { return m_pk; }
    const StoreIdentity* store() const { return m_state ? m_state->store.get() : nullptr; }

    friend bool operator==(const ObjectID& a, const ObjectID& b)
    {
        if (!a.m_entity || !b.m_entity)
            return a.m_entity == b.m_entity;
        return a.m_pk == b.m_pk && a.m_entity->rootEntity() == b.m_entity->rootEntity() && a.store() == b.store();
    }
    friend bool operator!=(const ObjectID& a, const ObjectID& b) { return !(a == b); }
    friend size_t qHash(const ObjectID& id, size_t seed = 0)
    {
        return qHashMulti(seed, id.m_pk, id.m_entity ? id.m_entity->rootEntity() : nullptr);
    }

    // For the coordinator only.
    static ObjectID makePermanent(const EntityDescription* entity, qint64 pk,
                                  const std::shared_ptr<const detail::ObjectIDState>& storeState);
    static ObjectID makeTemporary(const EntityDescription* entity, qint64 pk,
                                  const std::shared_ptr<StoreIdentity>& store);
    void markPermanent() const;

private:
    const EntityDescription* m_entity = nullptr;
    qint64 m_pk = 0;
    std::shared_ptr<const detail::ObjectIDState> m_state;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::ObjectID)
