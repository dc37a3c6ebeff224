// A new, unsent message as it is handed to a mail program: the user completes and sends it
// there. Attachments are absolute file paths, in order.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

struct MailMessage {
    QString to;
    QString subject;
    QString body;
    QStringList attachments;
};

} // namespace platform
