#include "Mail/KPQueryMailClient.h"

#include "Mail/SendMailClient.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Mail/MailComposer.h"
#include "Platform/Workspace/Workspace.h"

#include <QPointer>

KPQueryMailClient::KPQueryMailClient() = default;

KPQueryMailClient::~KPQueryMailClient() = default;

QHash<QString, QStringList>& KPQueryMailClient::installedMailClients()
{
    static QHash<QString, QStringList> table;
    return table;
}

QString KPQueryMailClient::defaultMailClient()
{
    static QString cached;
    if (cached.isEmpty())
        if (auto program = SendMailClient::composer().defaultMailProgram())
            cached = program->application.id;
    return cached;
}

void KPQueryMailClient::startQuery(const QString& bundleIdentifier)
{
    if (m_started)
        return;
    m_started = true;
    m_bundelIdentifier = bundleIdentifier;
    queryNote(QueryNote::DidStartGathering);
    platform::MailComposer* composer = &SendMailClient::composer();
    QPointer<KPQueryMailClient> self(this);
    platform::Dispatch::async(platform::DispatchQueue::global(platform::QueuePriority::Low),
                              [self, composer, bundleIdentifier] {
        QStringList paths;
        for (const platform::MailProgram& p : composer->programsForIdentifier(bundleIdentifier))
            paths.append(p.application.path);
        platform::Dispatch::main([self, paths] {
            if (!self)
                return;
            for (const QString& path : paths)
                self->metadataQueryResult(path);
            self->queryNote(QueryNote::DidFinishGathering);
        });
    });
}

void KPQueryMailClient::metadataQueryResult(const QString& path)
{
    if (!path.isEmpty())
        m_clientList.append(path);
}

void KPQueryMailClient::queryNote(QueryNote note)
{
    if (note != QueryNote::DidFinishGathering)
        return;
    if (!m_clientList.isEmpty())
        installedMailClients().insert(m_bundelIdentifier, m_clientList);
    Q_EMIT queryFinished(m_bundelIdentifier, m_clientList);
    deleteLater();
}
