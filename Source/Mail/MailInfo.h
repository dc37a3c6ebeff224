// The message the program asks a mail program to show: the dictionary the feedback and
// bug-report commands, the grid's send command and the crash reporter build, with its typed
// view for the sender.
#pragma once

#include "Platform/Mail/MailMessage.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

struct MailInfo {
    // The dictionary keys; every value is optional.
    static inline const QString kSubject = QStringLiteral("Subject");
    static inline const QString kContent = QStringLiteral("Content");
    static inline const QString kFiles = QStringLiteral("Files");
    static inline const QString kAddress = QStringLiteral("Address");

    QString subject;
    QString content;
    QStringList files; // absolute paths, attached in this order
    QString address;   // empty: the user types one in the mail program

    static MailInfo fromDictionary(const QVariantMap& dictionary);
    QVariantMap toDictionary() const;

    // The message to hand over. A missing address becomes the localised "please input
    // address", so the user sees where the recipient goes.
    platform::MailMessage toMessage() const;
};
