// The SafeBox command client: packs an operation into a command dictionary, runs it through the
// disk-image driver on the default global queue and hands the result to a completion on the main
// thread. It replaces "Password" and "NewPassword" by their derived values in its own copy of
// the parameter; the caller's dictionary keeps what the user typed.
//
// A client serves one command; the worker and the main-queue task each hold it alive until the
// completion has run, so callers may drop their reference at once. Nothing orders two commands:
// callers start a dependent one from the first one's completion.
#pragma once

#include "SafeBox/SafeBoxCreator.h"

#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

class SafeBoxXPCClient : public std::enable_shared_from_this<SafeBoxXPCClient> {
public:
    using Completion = std::function<void(bool success, const QString& error)>;
    using AttachCompletion =
        std::function<void(bool success, const QString& mountPath, const QString& diskName, const QString& error)>;
    using DriverFactory = std::function<std::unique_ptr<SafeBoxCreator>(const QString& path, const QVariantMap& parameter)>;

    // A missing parameter counts as an empty one.
    static std::shared_ptr<SafeBoxXPCClient> create(const QString& safeBoxPath,
                                                    const std::optional<QVariantMap>& parameter);
    // Neither path nor parameter: for Detach.
    static std::shared_ptr<SafeBoxXPCClient> create();

    void creatorWithCompletedBlock(Completion block);
    void attachWithCompletedBlock(AttachCompletion block);
    void detachWithCompletedBlock(const QString& disk, Completion block);
    void changeWithCompletedBlock(Completion block);
    void resizeWithCompletedBlock(Completion block);
    void logoutCheck();

    // Runs the command dictionary on the default global queue.
    void sendMessage(const QVariantMap& command);

    QString safeBoxPath() const { return m_safeBoxPath; }
    const QVariantMap& parameter() const { return m_parameter; }

    // Tests swap the driver; nullptr restores the real one.
    static void setDriverFactoryForTesting(DriverFactory factory);

private:
    SafeBoxXPCClient(const QString& path, const QVariantMap& parameter);
    void executeSafeBoxCommand(const QVariantMap& command);
    QVariantMap commandFor(const QString& name) const;

    QString m_safeBoxPath;
    QVariantMap m_parameter;
    Completion m_createCompletedBlock;
    AttachCompletion m_attachCompletedBlock;
    Completion m_detachCompletedBlock;
    Completion m_changeCompletedBlock;
    Completion m_resizeCompletedBlock;
};
