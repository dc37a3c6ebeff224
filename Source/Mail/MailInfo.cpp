#include "Mail/MailInfo.h"

#include "Platform/Foundation/Localization.h"

MailInfo MailInfo::fromDictionary(const QVariantMap& dictionary)
{
    MailInfo info;
    info.subject = dictionary.value(kSubject).toString();
    info.content = dictionary.value(kContent).toString();
    info.address = dictionary.value(kAddress).toString();
    const QVariant files = dictionary.value(kFiles);
    if (files.canConvert<QStringList>())
        info.files = files.toStringList();
    info.files.removeAll(QString());
    return info;
}

QVariantMap MailInfo::toDictionary() const
{
    QVariantMap dictionary;
    if (!subject.isNull())
        dictionary.insert(kSubject, subject);
    if (!content.isNull())
        dictionary.insert(kContent, content);
    if (!address.isNull())
        dictionary.insert(kAddress, address);
    if (!files.isEmpty())
        dictionary.insert(kFiles, files);
    return dictionary;
}

platform::MailMessage MailInfo::toMessage() const
{
    platform::MailMessage message;
    message.to = address.trimmed().isEmpty() ? platform::localizedString(QStringLiteral("please input address"))
                                             : address;
    message.subject = subject;
    message.body = content;
    message.attachments = files;
    return message;
}
