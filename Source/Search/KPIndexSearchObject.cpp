#include "Search/KPIndexSearchObject.h"

#include "Platform/Foundation/Dispatch.h"
#include "Platform/TextIndex/TextIndex.h"
#include "Utilities/KPLogger/KPLogClient.h"
#include "Search/KPIndexManager.h"

#include <QRegularExpression>
#include <QSet>

using namespace platform;

namespace {

const QString kLogDomain = QStringLiteral("IndexManager");

// One term as the query writes it, followed by its blank.
QString writtenTerm(QString term)
{
    term.remove(QLatin1Char('"'));
    static const QRegularExpression whiteSpace(QStringLiteral("\\s"));
    if (term.contains(whiteSpace))
        return QStringLiteral("\"%1\" ").arg(term);
    return term + QLatin1Char(' ');
}

QString writtenTerms(const QString& value)
{
    QString written;
    for (const QString& term : value.split(QLatin1Char(',')))
        written += writtenTerm(term);
    return written;
}

} // namespace

std::shared_ptr<KPIndexSearchObject> KPIndexSearchObject::initWithQueryString(const QString& queryString)
{
    std::shared_ptr<KPIndexSearchObject> search(new KPIndexSearchObject());
    search->m_queryString = queryString;
    return search;
}

std::shared_ptr<KPIndexSearchObject> KPIndexSearchObject::initWithQueryValues(const QVariantMap& values)
{
    std::shared_ptr<KPIndexSearchObject> search(new KPIndexSearchObject());
    search->m_searchValues = values;
    search->m_queryString = queryStringFromValues(values);
    return search;
}

QString KPIndexSearchObject::queryStringFromValues(const QVariantMap& values)
{
    const bool all = values.value(QStringLiteral("Operation")).toBool();
    const QStringList strings = values.value(QStringLiteral("Value")).toStringList();
    QString query;
    if (all) {
        for (const QString& value : strings)
            query += writtenTerms(value);
        if (query.size() >= 2)
            query.chop(1);
        return query;
    }
    for (const QString& value : strings) {
        QString group = QStringLiteral("(") + writtenTerms(value);
        if (group.size() >= 2)
            group.chop(1);
        group += QLatin1Char(')');
        query += QStringLiteral("%1 OR ").arg(group);
    }
    if (query.size() >= 3)
        query.chop(3);
    return query;
}

void KPIndexSearchObject::searchByProgressBlock(ProgressBlock block)
{
    if (!block)
        return;
    m_progressBlock = std::move(block);
    if (!m_manager)
        m_manager = &KPIndexManager::indexManager();
    std::shared_ptr<KPIndexSearchObject> self = shared_from_this();
    Dispatch::async(DispatchQueue::global(QueuePriority::Default), [self] { self->runSearch(); });
}

void KPIndexSearchObject::cancel()
{
    m_isCancel.store(true);
    std::lock_guard lock(m_searchLock);
    if (m_search)
        m_search->cancel();
}

void KPIndexSearchObject::deliver(const QVariantList& hits, bool finished)
{
    std::shared_ptr<KPIndexSearchObject> self = shared_from_this();
    Dispatch::main([self, hits, finished] {
        // A batch that was on its way when the caller cancelled is no longer wanted.
        if (!finished && self->isCancel())
            return;
        self->m_progressBlock(self, hits, finished);
    });
}

void KPIndexSearchObject::runSearch()
{
    const std::shared_ptr<TextIndex> index = m_manager->indexRef();
    if (!index) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("KPIndexSearchObject: No Index has been created!"));
        deliver({}, true);
        return;
    }
    Result<std::unique_ptr<TextIndexSearch>> started = index->search(m_queryString);
    if (!started) {
        KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("KPIndexSearchObject: %1").arg(started.error().toString()));
        deliver({}, true);
        return;
    }
    {
        std::lock_guard lock(m_searchLock);
        m_search = std::shared_ptr<TextIndexSearch>(std::move(*started));
        if (m_isCancel.load())
            m_search->cancel();
    }

    QSet<QString> delivered;
    while (!m_isCancel.load()) {
        Result<TextIndexBatch> batch = m_search->findMatches(kBatchSize, std::chrono::milliseconds(kBatchMilliseconds));
        if (!batch) {
            KPLogLogDomainMessage(kLogDomain, 0, QStringLiteral("KPIndexSearchObject: %1").arg(batch.error().toString()));
            break;
        }
        QVariantList hits;
        for (const TextIndexHit& hit : batch->hits) {
            if (m_isCancel.load())
                break;
            // A document removed meanwhile has no URI left; one URI is one library record.
            if (hit.uri.isEmpty() || delivered.contains(hit.uri))
                continue;
            delivered.insert(hit.uri);
            hits.append(QVariantMap{{QStringLiteral("URI"), hit.uri},
                                    {QStringLiteral("SKID"), QVariant::fromValue(quint64(hit.documentID))}});
        }
        if (m_isCancel.load())
            break;
        if (!hits.isEmpty())
            deliver(hits, false);
        if (!batch->more)
            break;
    }
    {
        std::lock_guard lock(m_searchLock);
        m_search.reset();
    }
    deliver({}, true);
}
