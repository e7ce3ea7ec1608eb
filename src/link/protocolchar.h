#pragma once

#include <QByteArray>

namespace vantorel {

struct LinkSettings;

inline const QByteArray kAt = QByteArrayLiteral("@");

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
    // The characters a call that hears nothing sends its frame with: the one
    // in use, then "@" unless that is "@".
    int charactersWhenSilent() const { return inUse() == kAt ? 1 : 2; }
    // Back to the run's Protocol character.
    void renew();

private:
    LinkSettings &link_;
    QByteArray local_;
};

} // namespace vantorel
