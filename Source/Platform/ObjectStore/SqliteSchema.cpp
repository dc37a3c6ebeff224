#include "Platform/ObjectStore/SqliteSchema.h"

namespace platform {

namespace {

bool isManyToMany(const RelationshipDescription& r)
{
    return r.toMany && (!r.inverse || r.inverse->toMany);
}

QString sqlType(AttributeType type)
{
    switch (type) {
    case AttributeType::String:
        return QStringLiteral("TEXT");
    case AttributeType::Double:
        return QStringLiteral("REAL");
    case AttributeType::Binary:
        return QStringLiteral("BLOB");
    default:
        return QStringLiteral("INTEGER");
    }
}

} // namespace

const EntityDescription* SqliteSchema::declaringEntity(const EntityDescription* e, const QString& relName)
{
    while (e->superentity() && e->superentity()->relationship(relName))
        e = e->superentity();
    return e;
}

QString SqliteSchema::quoted(const QString& name)
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

SqliteSchema::SqliteSchema(const ManagedObjectModel& model)
{
    for (const EntityDescription* root : model.rootEntities()) {
        Table t;
        t.root = root;
        t.name = QStringLiteral("t_") + root->name();
        for (const EntityDescription* e : root->hierarchy()) {
            std::vector<int> attrs, ones;
            for (const AttributeDescription& a : e->attributes()) {
                const QString col = QStringLiteral("a_") + a.name;
                qsizetype i = t.columns.indexOf(col);
                if (i < 0) {
                    i = t.columns.size();
                    t.columns << col;
                    t.columnTypes << sqlType(a.type);
                }
                attrs.push_back(int(i));
            }
            for (const RelationshipDescription& r : e->relationships()) {
                if (r.toMany)
                    continue;
                const QString col = QStringLiteral("r_") + r.name;
                qsizetype i = t.columns.indexOf(col);
                if (i < 0) {
                    i = t.columns.size();
                    t.columns << col;
                    t.columnTypes << QStringLiteral("INTEGER");
                }
                ones.push_back(int(i));
            }
            t.attrColumn.insert(e, attrs);
            t.toOneColumn.insert(e, ones);
        }
        QStringList names{QStringLiteral("pk"), QStringLiteral("ent")};
        QStringList marks{QStringLiteral("?"), QStringLiteral("?")};
        for (const QString& c : t.columns) {
            names << quoted(c);
            marks << QStringLiteral("?");
        }
        t.upsertSql = QStringLiteral("INSERT OR REPLACE INTO %1 (%2) VALUES (%3)")
                          .arg(quoted(t.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        t.insertSql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(quoted(t.name), names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        t.deleteSql = QStringLiteral("DELETE FROM %1 WHERE pk = ?").arg(quoted(t.name));
        tableOfRoot.insert(root, tables.size());
        tables.push_back(std::move(t));
    }
    tableOfEntity.resize(model.entities().size());
    for (const auto& e : model.entities())
        tableOfEntity[size_t(e->index())] = tableOfRoot.value(e->rootEntity());
    for (const auto& ep : model.entities()) {
        for (const RelationshipDescription& r : ep->relationships()) {
            if (!isManyToMany(r) || declaringEntity(ep.get(), r.name) != ep.get())
                continue;
            if (r.inverse) {
                const EntityDescription* other = declaringEntity(r.destination, r.inverse->name);
                const QString mine = ep->name() + QLatin1Char('.') + r.name;
                const QString theirs = other->name() + QLatin1Char('.') + r.inverse->name;
                if (theirs < mine)
                    continue;
            }
            Join j;
            j.name = QStringLiteral("j_%1_%2").arg(ep->name(), r.name);
            j.src = ep.get();
            j.rel = &r;
            j.dst = r.destination;
            j.inverse = r.inverse;
            const QString table = quoted(j.name);
            j.insertSql[0] = QStringLiteral("INSERT OR IGNORE INTO %1 (src, dst) VALUES (?, ?)").arg(table);
            j.insertSql[1] = QStringLiteral("INSERT OR IGNORE INTO %1 (dst, src) VALUES (?, ?)").arg(table);
            j.deleteSql[0] = QStringLiteral("DELETE FROM %1 WHERE src = ? AND dst = ?").arg(table);
            j.deleteSql[1] = QStringLiteral("DELETE FROM %1 WHERE dst = ? AND src = ?").arg(table);
            j.deleteAllSql[0] = QStringLiteral("DELETE FROM %1 WHERE src = ?").arg(table);
            j.deleteAllSql[1] = QStringLiteral("DELETE FROM %1 WHERE dst = ?").arg(table);
            joins.push_back(j);
        }
    }
}

} // namespace platform
