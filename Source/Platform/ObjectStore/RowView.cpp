#include "Platform/ObjectStore/RowView.h"

#include "Platform/ObjectStore/ManagedObjectContext.h"

namespace platform {

namespace {
const QString countKey = QStringLiteral("@count");
}

QVariant RowView::valueForKey(const QString& key) const
{
    return walk(m_context, *m_row, QStringList{key}, false);
}

QVariant RowView::valueForKeyPathComponents(const QStringList& components) const
{
    return walk(m_context, *m_row, components, false);
}

QVariant RowView::identity() const
{
    return QVariant::fromValue(m_context->idForKey(ManagedObjectContext::keyOf(m_row->entity, m_row->pk), m_row->entity));
}

QVariant RowView::walk(const ManagedObjectContext* context, const Row& start, const QStringList& components,
                       bool objectsAsRefs)
{
    // The common case, one attribute of the row itself, without collecting anything.
    if (components.size() == 1) {
        if (const AttributeDescription* attr = start.entity->attribute(components.front()))
            return start.value(attr->slot);
    }
    auto* ctx = const_cast<ManagedObjectContext*>(context);
    std::vector<RowPtr> rows;
    std::vector<const Row*> current{&start};
    bool many = false;
    auto objectValue = [&](const Row* r) -> QVariant {
        const auto key = ManagedObjectContext::keyOf(r->entity, r->pk);
        if (objectsAsRefs) {
            ManagedObjectPtr object = ctx->objectForKey(key, r->entity);
            return object ? QVariant::fromValue(ObjectRef(object)) : QVariant();
        }
        return QVariant::fromValue(context->idForKey(key, r->entity));
    };
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QString& name = components[i];
        const bool last = i + 1 == components.size();
        if (name == countKey) {
            if (!many)
                return {};
            return QVariant::fromValue(qint64(current.size()));
        }
        if (current.empty())
            break;
        const EntityDescription* entity = current.front()->entity;
        if (const AttributeDescription* attr = entity->attribute(name)) {
            QVariantList values;
            for (const Row* r : current) {
                const AttributeDescription* a = r->entity == entity ? attr : r->entity->attribute(name);
                if (a)
                    values.append(r->value(a->slot));
                else if (!many)
                    values.append(QVariant());
            }
            QVariant result = many ? QVariant(values) : values.value(0);
            if (last)
                return result;
            return kvc::valueForKeyPath(result, components.mid(i + 1));
        }
        const RelationshipDescription* rel = entity->relationship(name);
        if (!rel) {
            // A key only some sub-entities have: the others answer nil for it.
            bool anywhere = false;
            for (const Row* r : current)
                anywhere = anywhere || r->entity->attribute(name) || r->entity->relationship(name);
            if (!anywhere)
                return {};
            QVariantList values;
            for (const Row* r : current) {
                if (r->entity->attribute(name) || r->entity->relationship(name))
                    values.append(walk(context, *r, components.mid(i), objectsAsRefs));
            }
            return many ? QVariant(values) : values.value(0);
        }
        std::vector<const Row*> next;
        for (const Row* r : current) {
            const RelationshipDescription* rr = r->entity == entity ? rel : r->entity->relationship(name);
            if (!rr)
                continue;
            if (rr->toMany) {
                for (qint64 k : r->toMany[size_t(rr->slot)]) {
                    if (RowPtr t = context->visibleRow(ManagedObjectContext::keyOf(rr->destination, k))) {
                        next.push_back(t.get());
                        rows.push_back(std::move(t));
                    }
                }
            } else if (qint64 k = r->toOne[size_t(rr->slot)]) {
                if (RowPtr t = context->visibleRow(ManagedObjectContext::keyOf(rr->destination, k))) {
                    next.push_back(t.get());
                    rows.push_back(std::move(t));
                }
            }
        }
        many = many || rel->toMany;
        current.swap(next);
        if (!many && current.empty())
            return {}; // through a nil to-one everything is nil
    }
    if (many) {
        if (components.back() == countKey)
            return QVariant::fromValue(qint64(current.size()));
        QVariantList out;
        out.reserve(qsizetype(current.size()));
        for (const Row* r : current)
            out.append(objectValue(r));
        return out;
    }
    if (current.empty())
        return {};
    return objectValue(current.front());
}

} // namespace platform
