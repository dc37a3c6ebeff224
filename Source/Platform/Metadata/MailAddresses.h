// Reading address headers of mail messages: finding a header field and naming its senders.
//
// An address list is split by its own grammar, not by regular expressions over the text:
// commas inside quoted names, angle brackets and comments do not separate addresses, and
// encoded words are decoded only after the split (an encoded word never hides a separator).
// Names may be quoted ("Doe, Jane" <j@x>), encoded (=?UTF-8?Q?Ren=C3=A9?= <r@x>), given as a
// comment in the old form (j@x (Jane Doe)), or absent (bare address).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

class MailAddresses {
public:
    struct Mailbox {
        QString name;    // decoded display name; empty when the address has none
        QString address; // "user@host" as written; empty for a group name alone
    };

    // The unfolded value of the first header field with this name (case-insensitive) in the
    // header block at the start of message; nothing when there is no such field.
    static std::optional<QByteArray> headerField(QByteArrayView message, QByteArrayView name);

    // The mailboxes of an address-list header value, in order. Group syntax
    // ("Team: a@x, b@y;") yields the group's members.
    static QList<Mailbox> parse(QByteArrayView value);

    // What to call each sender: the display name, else the address.
    static QStringList senderNames(QByteArrayView value);

    MailAddresses() = delete;
};

} // namespace platform
