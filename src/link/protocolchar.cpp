#include "link/protocolchar.h"

#include "state/mainstate.h"

namespace vantorel {

ProtocolCharacter::ProtocolCharacter(MainState &main) : main_(main), local_(protocolCharFromText(main.Protocol.text())) {}

QByteArray ProtocolCharacter::inUse() const { return main_.SameProtocol ? main_.ProtocolChar : local_; }

bool ProtocolCharacter::fallBackToAt()
{
    if (inUse() == kAt)
        return false;
    if (main_.SameProtocol)
        main_.ProtocolChar = kAt;
    else
        local_ = kAt;
    return true;
}

void ProtocolCharacter::renew() { local_ = protocolCharFromText(main_.Protocol.text()); }

} // namespace vantorel
