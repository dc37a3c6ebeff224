#include "SafeBox/SafeBoxXPCClient.h"

#include "Platform/Foundation/Dispatch.h"
#include "SafeBox/SafeBoxContentGenerate.h"
#include "Utilities/KPLogger/KPLogClient.h"

#include <mutex>

namespace {

const QString kType = QStringLiteral("SafeBox");

std::mutex g_factoryMutex; // guards g_factory, read on worker threads
SafeBoxXPCClient::DriverFactory g_factory;

std::unique_ptr<SafeBoxCreator> makeDriver(const QString& path, const QVariantMap& parameter)
{
    std::lock_guard lock(g_factoryMutex);
    if (g_factory)
        return g_factory(path, parameter);
    return std::make_unique<SafeBoxCreator>(path, parameter);
}

} // namespace

SafeBoxXPCClient::SafeBoxXPCClient(const QString& path, const QVariantMap& parameter)
    : m_safeBoxPath(path), m_parameter(parameter)
{
    for (const QString& key : {QStringLiteral("Password"), QStringLiteral("NewPassword")})
        if (m_parameter.contains(key))
            m_parameter.insert(key, SafeBoxContentGenerate(m_parameter.value(key).toString()).generate());
}

std::shared_ptr<SafeBoxXPCClient> SafeBoxXPCClient::create(const QString& safeBoxPath,
                                                           const std::optional<QVariantMap>& parameter)
{
    return std::shared_ptr<SafeBoxXPCClient>(new SafeBoxXPCClient(safeBoxPath, parameter.value_or(QVariantMap())));
}

std::shared_ptr<SafeBoxXPCClient> SafeBoxXPCClient::create()
{
    return create(QString(), std::nullopt);
}

void SafeBoxXPCClient::setDriverFactoryForTesting(DriverFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

QVariantMap SafeBoxXPCClient::commandFor(const QString& name) const
{
    return {{QStringLiteral("Type"), kType},
            {QStringLiteral("Command"), name},
            {QStringLiteral("Path"), m_safeBoxPath},
            {QStringLiteral("Parameter"), m_parameter}};
}

void SafeBoxXPCClient::creatorWithCompletedBlock(Completion block)
{
    m_createCompletedBlock = std::move(block);
    sendMessage(commandFor(QStringLiteral("Create")));
}

void SafeBoxXPCClient::attachWithCompletedBlock(AttachCompletion block)
{
    m_attachCompletedBlock = std::move(block);
    sendMessage(commandFor(QStringLiteral("Attach")));
}

void SafeBoxXPCClient::changeWithCompletedBlock(Completion block)
{
    m_changeCompletedBlock = std::move(block);
    sendMessage(commandFor(QStringLiteral("Change")));
}

void SafeBoxXPCClient::resizeWithCompletedBlock(Completion block)
{
    m_resizeCompletedBlock = std::move(block);
    sendMessage(commandFor(QStringLiteral("Resize")));
}

void SafeBoxXPCClient::detachWithCompletedBlock(const QString& disk, Completion block)
{
    m_detachCompletedBlock = std::move(block);
    sendMessage({{QStringLiteral("Type"), kType}, {QStringLiteral("Command"), QStringLiteral("Detach")},
                 {QStringLiteral("Disk"), disk}});
}

void SafeBoxXPCClient::logoutCheck()
{
    sendMessage({{QStringLiteral("Type"), kType}, {QStringLiteral("Command"), QStringLiteral("LogoutChecker")},
                 {QStringLiteral("Path"), m_safeBoxPath}});
}

void SafeBoxXPCClient::sendMessage(const QVariantMap& command)
{
    platform::Dispatch::async(platform::DispatchQueue::global(),
                              [self = shared_from_this(), command] { self->executeSafeBoxCommand(command); });
}

void SafeBoxXPCClient::executeSafeBoxCommand(const QVariantMap& command)
{
    const QString type = command.value(QStringLiteral("Type")).toString();
    const QString name = command.value(QStringLiteral("Command")).toString();
    if (type != kType) {
        KPLogLogMessage(QStringLiteral("SafeBox: a command of type \"%1\" was dropped").arg(type));
        Q_ASSERT_X(false, "SafeBoxXPCClient", "a command of another type");
        return;
    }
    auto driver = makeDriver(command.value(QStringLiteral("Path")).toString(),
                             command.value(QStringLiteral("Parameter")).toMap());
    SafeBoxOutcome outcome;
    if (name == QLatin1String("Create")) {
        outcome = driver->creator();
    } else if (name == QLatin1String("Attach")) {
        outcome = driver->attach();
    } else if (name == QLatin1String("Detach")) {
        outcome = driver->detach(command.value(QStringLiteral("Disk")).toString());
    } else if (name == QLatin1String("Change")) {
        outcome = driver->change();
    } else if (name == QLatin1String("Resize")) {
        outcome = driver->resize();
    } else if (name == QLatin1String("LogoutChecker")) {
        driver->logoutCheck();
        return;
    } else {
        KPLogLogMessage(QStringLiteral("SafeBox: the unknown command \"%1\" was dropped").arg(name));
        Q_ASSERT_X(false, "SafeBoxXPCClient", "an unknown command");
        return;
    }
    // A failure without text still reaches the completion, with an empty error.
    const QString error = outcome.success ? QString() : outcome.error.value_or(QString());
    platform::Dispatch::main([self = shared_from_this(), name, outcome, error] {
        if (name == QLatin1String("Attach")) {
            if (self->m_attachCompletedBlock)
                self->m_attachCompletedBlock(outcome.success, outcome.success ? outcome.path : QString(),
                                             outcome.success ? outcome.disk : QString(), error);
            return;
        }
        const Completion& block = name == QLatin1String("Create")   ? self->m_createCompletedBlock
                                  : name == QLatin1String("Detach") ? self->m_detachCompletedBlock
                                  : name == QLatin1String("Change") ? self->m_changeCompletedBlock
                                                                    : self->m_resizeCompletedBlock;
        if (block)
            block(outcome.success, error);
    });
}
