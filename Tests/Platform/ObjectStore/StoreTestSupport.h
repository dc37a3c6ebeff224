// Shared set-up for the object-store tests: the shipped models, stores in scratch folders and
// short helpers for fetching by predicate text.
#pragma once

#include "Platform/ObjectStore/ManagedObjectContext.h"
#include "Support/TestSupport.h"

#include <gtest/gtest.h>

namespace storetest {

using namespace platform;

inline ModelPtr dbModel()
{
    static ModelPtr model = *ManagedObjectModel::loadBundle(QStringLiteral(OBJECTSTORE_RESOURCES "/DBModel.momd"));
    return model;
}

inline ModelPtr indexFolderModel()
{
    static ModelPtr model =
        *ManagedObjectModel::loadBundle(QStringLiteral(OBJECTSTORE_RESOURCES "/IndexFolderModel.momd"));
    return model;
}

inline QString fixture(const QString& name)
{
    return QStringLiteral(OBJECTSTORE_FIXTURES "/") + name;
}

inline CoordinatorPtr openStore(const QString& path, ModelPtr model = dbModel(), const StoreOptions& options = {})
{
    auto coordinator = PersistentStoreCoordinator::create(std::move(model));
    auto ok = coordinator->addSQLiteStore(path, options);
    EXPECT_TRUE(ok.has_value()) << (ok ? "" : qPrintable(ok.error().toString()));
    return coordinator;
}

inline CoordinatorPtr memoryStore(ModelPtr model = dbModel())
{
    auto coordinator = PersistentStoreCoordinator::create(std::move(model));
    EXPECT_TRUE(coordinator->addInMemoryStore().has_value());
    return coordinator;
}

inline ContextPtr rootContext(const CoordinatorPtr& coordinator, ConcurrencyType type = ConcurrencyType::Confinement)
{
    return ManagedObjectContext::create(type, coordinator);
}

inline QList<ManagedObjectPtr> fetch(const ContextPtr& context, const QString& entity, const QString& format = {},
                                     const QVariantList& args = {}, QList<SortDescriptor> sort = {}, int limit = 0)
{
    Predicate predicate;
    if (!format.isEmpty()) {
        auto parsed = Predicate::format(format, args);
        EXPECT_TRUE(parsed.has_value()) << qPrintable(format);
        if (parsed)
            predicate = *parsed;
    }
    auto result = context->executeFetchRequest(FetchRequest(entity, predicate, std::move(sort), limit));
    EXPECT_TRUE(result.has_value()) << (result ? "" : qPrintable(result.error().toString()));
    return result ? *result : QList<ManagedObjectPtr>{};
}

inline qsizetype count(const ContextPtr& context, const QString& entity, const QString& format = {},
                       const QVariantList& args = {})
{
    auto predicate = format.isEmpty() ? Result<Predicate>(Predicate()) : Predicate::format(format, args);
    EXPECT_TRUE(predicate.has_value());
    auto n = context->countForFetchRequest(FetchRequest(entity, predicate ? *predicate : Predicate()));
    EXPECT_TRUE(n.has_value());
    return n ? *n : -1;
}

inline QStringList titles(const QList<ManagedObjectPtr>& objects, const QString& key = QStringLiteral("title"))
{
    QStringList out;
    for (const auto& o : objects)
        out << o->valueForKey(key).toString();
    return out;
}

inline ManagedObjectPtr insert(const ContextPtr& context, const QString& entity, const QVariantMap& values = {})
{
    ManagedObjectPtr o = context->insertNewObject(entity);
    EXPECT_TRUE(o);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        EXPECT_TRUE(o->setValueForKey(it.value(), it.key())) << qPrintable(it.key());
    return o;
}

inline QVariant asRef(const ManagedObjectPtr& o)
{
    return QVariant::fromValue(o->ref());
}

} // namespace storetest
