#include "Platform/ObjectStore/ManagedObject.h"

#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Platform/ObjectStore/RowView.h"

namespace platform {

ManagedObject::ManagedObject(std::weak_ptr<ManagedObjectContext> context, ObjectID id, RowPtr base)
    : m_context(std::move(context)), m_id(std::move(id)), m_base(std::move(base))
{
}

ManagedObject::~ManagedObject() = default;

const std::shared_ptr<Row>& ManagedObject::current() const
{
    static const std::shared_ptr<Row> none;
    return m_changes ? m_changes->current : none;
}

const SlotMask& ManagedObject::changedValues() const
{
    static const SlotMask none;
    return m_changes ? m_changes->values : none;
}

const SlotMask& ManagedObject::changedToOne() const
{
    static const SlotMask none;
    return m_changes ? m_changes->toOne : none;
}

ManagedObject::Changes& ManagedObject::changes()
{
    if (!m_changes)
        m_changes = std::make_unique<Changes>();
    return *m_changes;
}

ManagedObjectPtr ManagedObject::make(std::weak_ptr<ManagedObjectContext> context, ObjectID id, RowPtr base)
{
    struct Made : ManagedObject {
        Made(std::weak_ptr<ManagedObjectContext> c, ObjectID i, RowPtr b)
            : ManagedObject(std::move(c), std::move(i), std::move(b))
        {
        }
    };
    return std::make_shared<Made>(std::move(context), std::move(id), std::move(base));
}

std::shared_ptr<ManagedObjectContext> ManagedObject::managedObjectContext() const
{
    auto ctx = m_context.lock();
    if (!ctx)
        return {};
    std::lock_guard lock(ctx->m_mutex);
    return m_valid ? ctx : nullptr;
}

bool ManagedObject::isInserted() const
{
    auto ctx = m_context.lock();
    if (!ctx)
        return false;
    std::lock_guard lock(ctx->m_mutex);
    return m_valid && m_inserted && !m_deleted;
}

bool ManagedObject::isUpdated() const
{
    auto ctx = m_context.lock();
    if (!ctx)
        return false;
    std::lock_guard lock(ctx->m_mutex);
    return m_valid && !m_inserted && !m_deleted && current() != nullptr;
}

bool ManagedObject::isDeleted() const
{
    auto ctx = m_context.lock();
    if (!ctx)
        return m_deleted;
    std::lock_guard lock(ctx->m_mutex);
    return m_deleted;
}

bool ManagedObject::hasChanges() const
{
    auto ctx = m_context.lock();
    if (!ctx)
        return false;
    std::lock_guard lock(ctx->m_mutex);
    return m_valid && (current() != nullptr || m_deleted);
}

QVariant ManagedObject::identity() const
{
    return QVariant::fromValue(m_id);
}

QVariant ManagedObject::valueForKey(const QString& key) const
{
    return valueForKeyPathComponents(QStringList{key});
}

QVariant ManagedObject::valueForKeyPathComponents(const QStringList& components) const
{
    if (components.isEmpty())
        return {};
    auto ctx = m_context.lock();
    if (!ctx || !m_valid) {
        // Detached: attributes still read as last seen; relationships are gone.
        RowPtr row = rowPtr();
        const AttributeDescription* a = row ? row->entity->attribute(components.front()) : nullptr;
        if (!a)
            return {};
        return components.size() == 1 ? row->value(a->slot)
                                       : kvc::valueForKeyPath(row->value(a->slot), components.mid(1));
    }
    auto scope = ctx->readScope();
    return RowView::walk(ctx.get(), row(), components, true);
}

ManagedObjectPtr ManagedObject::fromRef(const QVariant& value)
{
    const KeyValueCoding* object = kvc::object(value);
    if (!object)
        return {};
    auto* mo = dynamic_cast<const ManagedObject*>(object);
    return mo ? std::const_pointer_cast<ManagedObject>(mo->shared_from_this()) : nullptr;
}

ManagedObjectPtr ManagedObject::object(const QString& toOneKey) const
{
    return fromRef(valueForKey(toOneKey));
}

QList<ManagedObjectPtr> ManagedObject::objects(const QString& toManyKey) const
{
    QList<ManagedObjectPtr> out;
    for (const QVariant& v : valueForKey(toManyKey).toList()) {
        if (ManagedObjectPtr o = fromRef(v))
            out << o;
    }
    return out;
}

QList<ObjectID> ManagedObject::objectIDs(const QString& key) const
{
    QList<ObjectID> out;
    auto ctx = m_context.lock();
    if (!ctx || !m_valid)
        return out;
    auto scope = ctx->readScope();
    const RelationshipDescription* rel = entity()->relationship(key);
    if (!rel)
        return out;
    const Row& r = row();
    const std::vector<qint64> keys = rel->toMany ? r.toMany[size_t(rel->slot)]
                                                 : std::vector<qint64>{r.toOne[size_t(rel->slot)]};
    for (qint64 k : keys) {
        if (!k)
            continue;
        const auto rk = ManagedObjectContext::keyOf(rel->destination, k);
        if (RowPtr t = ctx->visibleRow(rk))
            out << ctx->idForKey(rk, t->entity);
    }
    return out;
}

namespace {

// The object a value names, within ctx: an ObjectRef to one of its objects, or an ObjectID.
ManagedObjectPtr resolveTarget(ManagedObjectContext& ctx, const QVariant& value, bool* ok)
{
    *ok = true;
    if (!value.isValid() || value.isNull())
        return {};
    if (ManagedObjectPtr o = ManagedObject::fromRef(value)) {
        *ok = o->managedObjectContext().get() == &ctx;
        return *ok ? o : nullptr;
    }
    if (value.metaType() == QMetaType::fromType<ObjectID>()) {
        ManagedObjectPtr o = ctx.existingObjectWithID(value.value<ObjectID>());
        *ok = o != nullptr;
        return o;
    }
    *ok = false;
    return {};
}

} // namespace

bool ManagedObject::setValueForKey(const QVariant& value, const QString& key)
{
    auto ctx = m_context.lock();
    if (!ctx || !m_valid)
        return false;
    if (const AttributeDescription* attr = entity()->attribute(key)) {
        auto scope = ctx->readScope();
        if (m_deleted)
            return false;
        return ctx->setAttribute(*this, *attr, value);
    }
    const RelationshipDescription* rel = entity()->relationship(key);
    if (!rel)
        return false;
    if (!rel->toMany) {
        bool ok = false;
        ManagedObjectPtr target = resolveTarget(*ctx, value, &ok);
        return ok && setObject(key, target);
    }
    QList<ManagedObjectPtr> targets;
    for (const QVariant& v : value.toList()) {
        bool ok = false;
        ManagedObjectPtr t = resolveTarget(*ctx, v, &ok);
        if (!ok || !t)
            return false;
        targets << t;
    }
    return replaceObjects(key, targets);
}

bool ManagedObject::setObject(const QString& toOneKey, const ManagedObjectPtr& target)
{
    auto ctx = m_context.lock();
    const RelationshipDescription* rel = entity()->relationship(toOneKey);
    if (!ctx || !rel || rel->toMany)
        return false;
    if (target && (target->m_context.lock() != ctx || !target->entity()->isKindOf(rel->destination)))
        return false;
    auto scope = ctx->readScope();
    if (!m_valid || m_deleted || (target && (!target->m_valid || target->m_deleted)))
        return false;
    return ctx->setToOne(*this, *rel, target.get());
}

bool ManagedObject::addObject(const QString& toManyKey, const ManagedObjectPtr& target)
{
    auto ctx = m_context.lock();
    const RelationshipDescription* rel = entity()->relationship(toManyKey);
    if (!ctx || !rel || !rel->toMany || !target || target->m_context.lock() != ctx
        || !target->entity()->isKindOf(rel->destination))
        return false;
    auto scope = ctx->readScope();
    if (!m_valid || m_deleted || !target->m_valid || target->m_deleted)
        return false;
    return ctx->addToMany(*this, *rel, *target);
}

bool ManagedObject::removeObject(const QString& toManyKey, const ManagedObjectPtr& target)
{
    auto ctx = m_context.lock();
    const RelationshipDescription* rel = entity()->relationship(toManyKey);
    if (!ctx || !rel || !rel->toMany || !target || target->m_context.lock() != ctx)
        return false;
    auto scope = ctx->readScope();
    if (!m_valid || m_deleted)
        return false;
    return ctx->removeToMany(*this, *rel, *target);
}

bool ManagedObject::replaceObjects(const QString& toManyKey, const QList<ManagedObjectPtr>& targets)
{
    auto ctx = m_context.lock();
    const RelationshipDescription* rel = entity()->relationship(toManyKey);
    if (!ctx || !rel || !rel->toMany)
        return false;
    for (const ManagedObjectPtr& t : targets) {
        if (!t || t->m_context.lock() != ctx || !t->entity()->isKindOf(rel->destination))
            return false;
    }
    auto scope = ctx->readScope();
    if (!m_valid || m_deleted)
        return false;
    std::vector<qint64> keep;
    for (const ManagedObjectPtr& t : targets)
        keep.push_back(t->m_id.primaryKey());
    std::sort(keep.begin(), keep.end());
    const std::vector<qint64> now = row().toMany[size_t(rel->slot)];
    for (qint64 k : now) {
        if (!std::binary_search(keep.begin(), keep.end(), k)) {
            if (ManagedObjectPtr t = ctx->relatedObject(*rel, k))
                ctx->removeToMany(*this, *rel, *t);
        }
    }
    for (const ManagedObjectPtr& t : targets)
        ctx->addToMany(*this, *rel, *t);
    return true;
}

} // namespace platform
