#pragma once

#include <QByteArray>

namespace vantorel {

struct LinkSettings;

// The protocol character of one procedure call, and the "@" rule: after a
// failed exchange the character in use becomes "@" unless it already is.
// With sameProtocol the run's shared character is the one in use (and
// changed), so later controllers of the same run start with "@" too.
class ProtocolCharacter {
public:
    explicit ProtocolCharacter(LinkSettings &link);

    QByteArray inUse() const;
    // Switches the character in use to "@"; false when it already was "@",
    // and after a Cancel: no frame goes out once it was pressed.
    bool fallBackToAt(bool cancelled);
    // Back to the run's Protocol character.
    void renew();

private:
    LinkSettings &link_;
    QByteArray local_;
};

inline const QByteArray kAt = QByteArrayLiteral("@");

} // namespace vantorel
