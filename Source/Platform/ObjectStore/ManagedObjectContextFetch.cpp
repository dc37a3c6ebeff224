// Fetching: the scan over committed rows with the context chain's changes overlaid, the
// inverse-set shortcut for "relationship == object" terms, number and boolean tests answered
// from the rows' cells, sorting and materialising. The tables a fetch reads are read from the
// file first, so that one that cannot be read fails the fetch; unless SQLite, asked about the
// filter's number and boolean tests, shows that the table holds nothing to read for it.
#include "Platform/ObjectStore/ManagedObjectContext.h"

#include "Platform/ObjectStore/CellTest.h"
#include "Platform/ObjectStore/Predicate/ValueComparison.h"
#include "Platform/ObjectStore/RowView.h"

#include <algorithm>
#include <map>
#include <limits>
#include <optional>

namespace platform {

namespace {

const QString domain = QStringLiteral("ObjectStore");
const QString countKey = QStringLiteral("@count");

bool knownKey(const EntityDescription* entity, const QString& key)
{
    for (const EntityDescription* e : entity->hierarchy()) {
        if (e->attribute(key) || e->relationship(key))
            return true;
    }
    return false;
}

// Key paths must name properties of the entity (or of one of its sub-entities); anything
// else is a typing error in a query and gets a clear error rather than an empty result.
Result<void> checkKeyPath(const EntityDescription* entity, const QStringList& components, const QString& text)
{
    const EntityDescription* cur = entity;
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QString& c = components[i];
        if (c == countKey && i > 0 && i + 1 == components.size())
            return {};
        if (!cur)
            return {}; // past an attribute: plain key-value coding on the value
        if (!knownKey(cur, c))
            return fail(domain, ManagedObjectContext::FetchError,
                        QStringLiteral("keypath %1 not found in entity %2").arg(text, entity->name()));
        const RelationshipDescription* rel = nullptr;
        for (const EntityDescription* e : cur->hierarchy()) {
            if ((rel = e->relationship(c)))
                break;
        }
        cur = rel ? rel->destination : nullptr;
    }
    return {};
}

Result<void> checkNode(const EntityDescription* entity, const PredicateNode& node)
{
    if (node.kind == PredicateNode::Kind::Comparison) {
        for (const PredicateExpression* e : {&node.left, &node.right}) {
            if (e->isKeyPath()) {
                if (auto ok = checkKeyPath(entity, e->components, e->keyPath); !ok)
                    return ok;
            }
        }
        return {};
    }
    for (const auto& child : node.children) {
        if (auto ok = checkNode(entity, *child); !ok)
            return ok;
    }
    return {};
}

template <class F>
void forEachKeyPath(const PredicateNode& node, const F& f)
{
    if (node.kind == PredicateNode::Kind::Comparison) {
        for (const PredicateExpression* e : {&node.left, &node.right}) {
            if (e->isKeyPath())
                f(e->components);
        }
        return;
    }
    for (const auto& child : node.children)
        forEachKeyPath(*child, f);
}

// The object ID a constant stands for (an ObjectID or an object whose identity is one).
ObjectID constantID(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<ObjectID>())
        return value.value<ObjectID>();
    if (const KeyValueCoding* object = kvc::object(value)) {
        const QVariant id = object->identity();
        if (id.metaType() == QMetaType::fromType<ObjectID>())
            return id.value<ObjectID>();
    }
    return {};
}

} // namespace

Result<std::vector<ManagedObjectContext::Match>>
ManagedObjectContext::runFetch(const FetchRequest& request, bool countOnly, qsizetype* count,
                               const std::function<void(const Row&)>& visit, const Collect& collect)
{
    if (visit)
        countOnly = true;
    const EntityDescription* entity = m_coordinator->model()->entity(request.entityName);
    if (!entity)
        return fail(domain, FetchError, QStringLiteral("no entity named \"%1\"").arg(request.entityName));
    if (auto ok = checkNode(entity, request.predicate.root()); !ok)
        return std::unexpected(ok.error());
    for (const SortDescriptor& sd : request.sortDescriptors) {
        if (auto ok = checkKeyPath(entity, sd.keyPath.split(QLatin1Char('.')), sd.keyPath); !ok)
            return std::unexpected(ok.error());
    }
    auto scope = readScope();
    if (!m_coordinator->hasStoreUnlocked())
        return fail(domain, PersistentStoreCoordinator::NoStoreError,
                    QStringLiteral("the context has no store to fetch from"));
    const EntityDescription* root = entity->rootEntity();
    // Plain attribute tests on a table that is not in memory are counted by SQLite first: when
    // nothing passes them (the start-up purges, a look-up of waiting work) nothing passes the
    // whole filter either and the table is never read; a count of nothing but such tests
    // needs no rows at all. Changes of the table pending anywhere in the chain would change
    // the answer, so they take the long way.
    if (auto tests = CellTest::within(entity, request.predicate.root()); tests && !visit) {
        const bool pendingHere = [&] {
            for (const ManagedObjectContext* c = this; c; c = c->m_parent.get()) {
                for (auto it = c->m_changed.cbegin(); it != c->m_changed.cend(); ++it) {
                    if (it.key().root == root)
                        return true;
                }
            }
            return false;
        }();
        if (auto stored = pendingHere ? std::nullopt
                                      : m_coordinator->countStored(entity, request.includesSubentities, tests->tests)) {
            if (!*stored)
                return std::unexpected(stored->error());
            qsizetype n = qsizetype(**stored);
            const int limit = request.sortDescriptors.isEmpty() ? request.fetchLimit : 0;
            if (limit > 0)
                n = std::min<qsizetype>(n, limit);
            if (n == 0 || (countOnly && tests->whole)) {
                if (count)
                    *count = n;
                return std::vector<Match>{};
            }
            if (tests->whole && collect.expect && request.sortDescriptors.isEmpty() && !countOnly)
                collect.expect(n);
        }
    }
    // Every table the scan and its key paths read, up front: a table that cannot be read fails
    // the fetch instead of reading as empty.
    {
        std::vector<const EntityDescription*> tables{entity};
        auto follow = [&](const QStringList& components) {
            const EntityDescription* cur = entity;
            for (const QString& c : components) {
                const RelationshipDescription* rel = nullptr;
                for (const EntityDescription* e : cur->hierarchy()) {
                    if ((rel = e->relationship(c)))
                        break;
                }
                if (!rel)
                    return;
                tables.push_back(rel->destination);
                cur = rel->destination;
            }
        };
        forEachKeyPath(request.predicate.root(), follow);
        for (const SortDescriptor& sd : request.sortDescriptors)
            follow(sd.keyPath.split(QLatin1Char('.')));
        if (auto ok = m_coordinator->loadTables(tables); !ok)
            return std::unexpected(ok.error());
    }

    auto wanted = [&](const Row& r) {
        return r.entity == entity || (request.includesSubentities && r.entity->isKindOf(entity));
    };
    const PredicateNode& pred = request.predicate.root();
    Predicate rest = request.predicate; // what candidates still have to pass
    std::vector<CellTest> cellTests; // filled below, with the plan
    auto matches = [&](const Row& r) {
        for (const CellTest& test : cellTests) {
            if (!test.matches(r))
                return false;
        }
        if (rest.root().kind == PredicateNode::Kind::True)
            return true;
        RowView view(this, &r);
        return rest.evaluate(view);
    };

    // Pending inserts of the whole chain, lowest level first so the nearest state wins.
    std::vector<Match> pending;
    {
        QHash<Key, bool> seen;
        for (const ManagedObjectContext* c = this; c; c = c->m_parent.get()) {
            for (auto it = c->m_changed.cbegin(); it != c->m_changed.cend(); ++it) {
                const ManagedObject& o = *it.value();
                if (it.key().root != root || seen.contains(it.key()))
                    continue;
                seen.insert(it.key(), true);
                if (!o.m_inserted)
                    continue;
                RowPtr r = visibleRow(it.key());
                if (r && wanted(*r))
                    pending.push_back({o.m_id, r});
            }
        }
        std::sort(pending.begin(), pending.end(),
                  [](const Match& a, const Match& b) { return a.row->pk < b.row->pk; });
    }

    // Candidates: an inverse set when a top-level term ties the records to one object,
    // otherwise the whole table.
    const std::vector<qint64>* candidates = nullptr;
    RowPtr anchor;
    for (const PredicateNode* term : request.predicate.conjuncts()) {
        if (term->kind != PredicateNode::Kind::Comparison || term->op != PredicateOperator::Equal
            || !term->left.isKeyPath() || term->left.components.size() != 1 || !term->right.isConstant())
            continue;
        const RelationshipDescription* rel = entity->relationship(term->left.keyPath);
        if (!rel || !rel->inverse || !rel->inverse->toMany)
            continue;
        const ObjectID target = constantID(term->right.constant);
        if (target.isNull() || !target.entity()->isKindOf(rel->destination->rootEntity()))
            continue;
        anchor = visibleRow(keyOf(target));
        static const std::vector<qint64> empty;
        candidates = anchor && anchor->entity->isKindOf(rel->destination)
            ? &anchor->toMany[size_t(rel->inverse->slot)]
            : &empty;
        // Inverses are kept in step at every level, so the candidates satisfy this term.
        std::vector<PredicateNodePtr> others;
        if (pred.kind == PredicateNode::Kind::And) {
            for (const PredicateNodePtr& child : pred.children) {
                if (child.get() != term)
                    others.push_back(child);
            }
        }
        rest = Predicate(PredicateNode::makeCompound(PredicateNode::Kind::And, std::move(others)));
        break;
    }

    // Simple attribute tests run straight over the rows; the evaluator gets the rest.
    {
        std::vector<PredicateNodePtr> others;
        const PredicateNode& top = rest.root();
        if (top.kind == PredicateNode::Kind::And) {
            for (const PredicateNodePtr& child : top.children) {
                if (auto test = CellTest::of(entity, *child))
                    cellTests.push_back(*test);
                else
                    others.push_back(child);
            }
            if (!cellTests.empty())
                rest = Predicate(PredicateNode::makeCompound(PredicateNode::Kind::And, std::move(others)));
        } else if (auto test = CellTest::of(entity, top)) {
            cellTests.push_back(*test);
            rest = Predicate();
        }
    }

    // Or an index, when a top-level term compares an indexed attribute with a constant. The
    // index knows stored values only, so every record changed anywhere in the chain is a
    // candidate too; pending inserts are checked separately below.
    bool candidatesCoverPending = candidates != nullptr;
    std::vector<qint64> indexed;
    if (!candidates) {
        for (const PredicateNode* term : request.predicate.conjuncts()) {
            if (term->kind != PredicateNode::Kind::Comparison || term->op != PredicateOperator::Equal
                || term->modifier != PredicateModifier::Direct || !term->left.isKeyPath()
                || term->left.components.size() != 1 || !term->right.isConstant())
                continue;
            const std::vector<qint64>* keys = m_coordinator->indexedKeys(entity, term->left.keyPath, term->right.constant);
            if (!keys)
                continue;
            indexed = *keys;
            for (const ManagedObjectContext* c = this; c; c = c->m_parent.get()) {
                for (auto it = c->m_changed.cbegin(); it != c->m_changed.cend(); ++it) {
                    if (it.key().root == root && !it.value()->m_inserted)
                        indexed.push_back(it.key().pk);
                }
            }
            std::sort(indexed.begin(), indexed.end());
            indexed.erase(std::unique(indexed.begin(), indexed.end()), indexed.end());
            candidates = &indexed;
            break;
        }
    }

    std::vector<Match> out;
    qsizetype counted = 0;
    const int limit = request.sortDescriptors.isEmpty() && !visit ? request.fetchLimit : 0;
    const bool collecting = collect.add && request.sortDescriptors.isEmpty() && !countOnly;
    auto accept = [&](ObjectID id, RowPtr row) {
        if (visit)
            visit(*row);
        ++counted;
        if (collecting)
            collect.add(std::move(id), std::move(row));
        else if (!countOnly)
            out.push_back({std::move(id), std::move(row)});
    };
    auto full = [&] { return limit > 0 && counted >= limit; };
    const bool overlay = [&] {
        for (const ManagedObjectContext* c = this; c; c = c->m_parent.get()) {
            if (!c->m_changed.isEmpty())
                return true;
        }
        return false;
    }();

    auto consider = [&](const RowPtr& committed) {
        RowPtr row = overlay ? visibleRow(keyOf(committed->entity, committed->pk)) : committed;
        if (!row || !wanted(*row) || !matches(*row))
            return;
        // A stored record: its ID is permanent, equal to any copy a context holds.
        accept(countOnly ? ObjectID() : m_coordinator->permanentID(row->entity, row->pk), row);
    };
    const std::vector<RowPtr>& table = m_coordinator->tableRows(root);
    if (candidates) {
        for (qint64 pk : *candidates) {
            if (full())
                break;
            if (pk > 0 && size_t(pk) < table.size() && table[size_t(pk)])
                consider(table[size_t(pk)]);
        }
    } else {
        for (const RowPtr& committed : table) {
            if (full())
                break;
            if (committed)
                consider(committed);
        }
    }
    for (const Match& m : pending) {
        if (full())
            break;
        if (candidatesCoverPending && !std::binary_search(candidates->begin(), candidates->end(), m.row->pk))
            continue;
        if (matches(*m.row))
            accept(m.id, m.row);
    }

    if (!request.sortDescriptors.isEmpty() && !countOnly) {
        const qsizetype width = request.sortDescriptors.size();
        std::vector<QVariant> keys(out.size() * size_t(width));
        std::vector<QStringList> paths;
        for (const SortDescriptor& sd : request.sortDescriptors)
            paths.push_back(sd.keyPath.split(QLatin1Char('.')));
        for (size_t i = 0; i < out.size(); ++i) {
            RowView view(this, out[i].row.get());
            for (qsizetype d = 0; d < width; ++d)
                keys[i * size_t(width) + size_t(d)] = view.valueForKeyPathComponents(paths[size_t(d)]);
        }
        std::vector<size_t> order(out.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            for (qsizetype d = 0; d < width; ++d) {
                const int c = request.sortDescriptors[d].compareValues(keys[a * size_t(width) + size_t(d)],
                                                                       keys[b * size_t(width) + size_t(d)]);
                if (c != 0)
                    return c < 0;
            }
            return false;
        });
        std::vector<Match> sorted;
        sorted.reserve(out.size());
        const size_t n = request.fetchLimit > 0 ? std::min(order.size(), size_t(request.fetchLimit)) : order.size();
        for (size_t i = 0; i < n; ++i)
            sorted.push_back(std::move(out[order[i]]));
        out.swap(sorted);
    }
    if (count)
        *count = countOnly ? counted : qsizetype(out.size());
    return out;
}

void ManagedObjectContext::expectObjects(qsizetype count, QList<ManagedObjectPtr>& out)
{
    out.reserve(count);
    // One growth of the registry instead of many rehashes (each holding the old table and the
    // new one at once) when a large result is new here.
    if (count > m_registry.size())
        m_registry.reserve(count + m_registry.size() / 2);
}

Result<QList<ManagedObjectPtr>> ManagedObjectContext::executeFetchRequest(const FetchRequest& request)
{
    if (request.resultType == FetchRequest::ResultType::Count)
        return fail(domain, FetchError, QStringLiteral("a count request answers a number; use countForFetchRequest"));
    QList<ManagedObjectPtr> out;
    // Objects are made as the scan finds their rows, so that a large result never exists twice
    // (as matches and as objects); a sorted one has to be complete first.
    Collect collect;
    collect.expect = [&](qsizetype stored) { expectObjects(stored, out); };
    // Held across the fetch, so that what the registry held at its start still holds: a
    // context that had no object yet cannot have one for a record the scan meets, as the scan
    // meets each record once.
    std::unique_lock lock(m_mutex);
    const bool anyRegistered = !m_registry.isEmpty();
    collect.add = [&](ObjectID&& id, RowPtr&& row) {
        const Key key = keyOf(id);
        out.append(materialize(key, std::move(id), std::move(row), anyRegistered));
    };
    auto matches = runFetch(request, false, nullptr, {}, collect);
    if (!matches)
        return std::unexpected(matches.error());
    if (!matches->empty())
        expectObjects(qsizetype(matches->size()), out);
    for (const Match& m : *matches)
        out.append(materialize(keyOf(m.id), m.id, m.row));
    return out;
}

Result<QList<ObjectID>> ManagedObjectContext::fetchObjectIDs(const FetchRequest& request)
{
    auto matches = runFetch(request, false, nullptr);
    if (!matches)
        return std::unexpected(matches.error());
    QList<ObjectID> out;
    out.reserve(qsizetype(matches->size()));
    for (const Match& m : *matches)
        out << m.id;
    return out;
}

Result<qsizetype> ManagedObjectContext::countForFetchRequest(const FetchRequest& request)
{
    qsizetype n = 0;
    auto matches = runFetch(request, true, &n);
    if (!matches)
        return std::unexpected(matches.error());
    return n;
}

namespace {

// Values of a grouped count, each kept once: nil, numbers, strings and dates in the order sorts
// use (where "equal in order" is "equal"), related objects by ID, anything else by equality.
class GroupTally {
public:
    // Adds one record's value (a list: its distinct elements; an empty list: nil).
    void addRecord(const QVariant& value)
    {
        if (value.metaType() != QMetaType::fromType<QVariantList>()) {
            bump(value);
            return;
        }
        const QVariantList values = value.toList();
        if (values.isEmpty()) {
            bump(QVariant());
            return;
        }
        m_seen.clear();
        for (const QVariant& v : values) {
            if (std::none_of(m_seen.begin(), m_seen.end(), [&](const QVariant& s) { return same(s, v); })) {
                m_seen.push_back(v);
                bump(v);
            }
        }
    }

    // One related object of one record (keys of a record's relationship are distinct).
    void addObject(qint64 pk, const std::function<ObjectID()>& makeID)
    {
        auto it = m_objectKeys.find(pk);
        if (it == m_objectKeys.end())
            it = m_objectKeys.insert(pk, {makeID(), 0});
        ++it->second;
    }
    void addNil() { bump(QVariant()); }

    QList<GroupCount> results() const
    {
        QList<GroupCount> out;
        for (const auto& [value, count] : m_ordered)
            out.append({value, count});
        std::vector<std::pair<ObjectID, qsizetype>> objects;
        objects.reserve(size_t(m_objects.size()));
        for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it)
            objects.emplace_back(it.key(), it.value());
        for (const auto& [id, count] : m_objectKeys)
            objects.emplace_back(id, count);
        std::sort(objects.begin(), objects.end(), [](const auto& a, const auto& b) {
            const QString ea = a.first.entity()->rootEntity()->name();
            const QString eb = b.first.entity()->rootEntity()->name();
            return ea != eb ? ea < eb : a.first.primaryKey() < b.first.primaryKey();
        });
        for (const auto& [id, count] : objects)
            out.append({QVariant::fromValue(id), count});
        for (const GroupCount& other : m_others)
            out.append(other);
        return out;
    }

private:
    struct SortLess {
        bool operator()(const QVariant& a, const QVariant& b) const { return ValueComparison::sortCompare(a, b) < 0; }
    };

    static bool sortable(const QVariant& v)
    {
        return ValueComparison::isNil(v) || ValueComparison::isNumber(v) || ValueComparison::isString(v)
            || ValueComparison::isDate(v);
    }

    static bool same(const QVariant& a, const QVariant& b)
    {
        if (sortable(a) && sortable(b))
            return ValueComparison::sortCompare(a, b) == 0;
        return ValueComparison::equal(a, b);
    }

    void bump(const QVariant& value)
    {
        if (value.metaType() == QMetaType::fromType<ObjectID>()) {
            ++m_objects[value.value<ObjectID>()];
        } else if (sortable(value)) {
            ++m_ordered[ValueComparison::isNil(value) ? QVariant() : value];
        } else {
            auto it = std::find_if(m_others.begin(), m_others.end(),
                                   [&](const GroupCount& g) { return ValueComparison::equal(g.value, value); });
            if (it == m_others.end())
                m_others.append({value, 1});
            else
                ++it->count;
        }
    }

    std::map<QVariant, qsizetype, SortLess> m_ordered;
    QHash<ObjectID, qsizetype> m_objects;
    QHash<qint64, std::pair<ObjectID, qsizetype>> m_objectKeys;
    QList<GroupCount> m_others;
    std::vector<QVariant> m_seen;
};

} // namespace

Result<QList<GroupCount>> ManagedObjectContext::groupedCountForFetchRequest(const FetchRequest& request)
{
    const EntityDescription* entity = m_coordinator->model()->entity(request.entityName);
    if (!entity)
        return fail(domain, FetchError, QStringLiteral("no entity named \"%1\"").arg(request.entityName));
    if (request.groupByKeyPath.isEmpty())
        return fail(domain, FetchError, QStringLiteral("a grouped count needs a key path to group by"));
    const QStringList components = request.groupByKeyPath.split(QLatin1Char('.'));
    if (auto ok = checkKeyPath(entity, components, request.groupByKeyPath); !ok)
        return std::unexpected(ok.error());
    // Given as the only sort key, the key path has its tables read up front like the
    // predicate's; a counting fetch never sorts.
    FetchRequest counting = request;
    counting.sortDescriptors = {SortDescriptor(request.groupByKeyPath, true)};
    GroupTally tally;
    // A path of one relationship, the common case (documents per tag, per folder), is counted
    // straight from the rows' keys: no value lists, and an ID made once per related object.
    auto relationshipOf = [&](const EntityDescription* e) {
        return components.size() == 1 ? e->relationship(components.front()) : nullptr;
    };
    std::function<void(const Row&)> visit = [&](const Row& row) {
        RowView view(this, &row);
        tally.addRecord(view.valueForKeyPathComponents(components));
    };
    if (relationshipOf(entity)) {
        visit = [&](const Row& row) {
            const RelationshipDescription* rel = relationshipOf(row.entity);
            if (!rel) {
                tally.addNil();
                return;
            }
            bool any = false;
            auto add = [&](qint64 k) {
                const Key key = keyOf(rel->destination, k);
                RowPtr target = k ? visibleRow(key) : RowPtr();
                if (!target)
                    return;
                any = true;
                tally.addObject(k, [&] { return idForKey(key, target->entity); });
            };
            if (rel->toMany) {
                for (qint64 k : row.toMany[size_t(rel->slot)])
                    add(k);
            } else {
                add(row.toOne[size_t(rel->slot)]);
            }
            if (!any)
                tally.addNil();
        };
    }
    auto ran = runFetch(counting, true, nullptr, visit);
    if (!ran)
        return std::unexpected(ran.error());
    return tally.results();
}

} // namespace platform
