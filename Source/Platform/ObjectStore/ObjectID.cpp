#include "Platform/ObjectStore/ObjectID.h"

#include <QUuid>

namespace platform {

QString StoreIdentity::uuid() const
{
    std::lock_guard lock(m_mutex);
    return m_uuid;
}

void StoreIdentity::setUuid(const QString& uuid)
{
    std::lock_guard lock(m_mutex);
    m_uuid = uuid;
}

namespace detail {
const QString& ObjectIDState::token() const
{
    std::call_once(m_tokenOnce, [this] {
        m_token = QString::fromLatin1(QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper());
    });
    return m_token;
}
} // namespace detail

QString ObjectID::URIRepresentation() const
{
    if (!m_entity || !m_state)
        return {};
    if (isTemporaryID())
        return QStringLiteral("x-folivo-store:///%1/t%2").arg(m_entity->name(), m_state->token());
    return QStringLiteral("x-folivo-store://%1/%2/p%3")
        .arg(m_state->store->uuid(), m_entity->name())
        .arg(m_pk);
}

ObjectID ObjectID::makePermanent(const EntityDescription* entity, qint64 pk,
                                 const std::shared_ptr<const detail::ObjectIDState>& storeState)
{
    ObjectID id;
    id.m_entity = entity;
    id.m_pk = pk;
    id.m_state = storeState;
    return id;
}

ObjectID ObjectID::makeTemporary(const EntityDescription* entity, qint64 pk,
                                 const std::shared_ptr<StoreIdentity>& store)
{
    auto state = std::make_shared<detail::ObjectIDState>();
    state->store = store;
    state->temporary = true;
    ObjectID id;
    id.m_entity = entity;
    id.m_pk = pk;
    id.m_state = std::move(state);
    return id;
}

void ObjectID::markPermanent() const
{
    if (m_state)
        const_cast<detail::ObjectIDState&>(*m_state).temporary = false;
}

} // namespace platform
