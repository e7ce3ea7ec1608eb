#pragma once

#include <QByteArray>

namespace vantorel {

class MainState;

// The protocol character of one procedure call, and the "@" rule: after a
// failed exchange the character in use becomes "@" unless it already is.
// With SameProtocol the shared ProtocolChar is the one in use (and changed),
// so later controllers of the same run start with "@" too.
class ProtocolCharacter {
public:
    // LocalChar is made from the Protocol text now (throws Fault when it is no number).
    explicit ProtocolCharacter(MainState &main);

    QByteArray inUse() const;
    // Switches the character in use to "@"; false when it already was "@".
    bool fallBackToAt();
    // LocalChar made anew from the Protocol text.
    void renew();

private:
    MainState &main_;
    QByteArray local_;
};

inline const QByteArray kAt = QByteArrayLiteral("@");

} // namespace vantorel
