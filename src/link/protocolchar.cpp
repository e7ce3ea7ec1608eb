#include "link/protocolchar.h"

#include "state/linksettings.h"

namespace vantorel {

ProtocolCharacter::ProtocolCharacter(LinkSettings &link) : link_(link), local_(link.protocolChar) {}

QByteArray ProtocolCharacter::inUse() const { return link_.sameProtocol ? link_.runChar : local_; }

bool ProtocolCharacter::fallBackToAt(bool cancelled)
{
    if (cancelled || inUse() == kAt)
        return false;
    if (link_.sameProtocol)
        link_.runChar = kAt;
    else
        local_ = kAt;
    return true;
}

void ProtocolCharacter::renew() { local_ = link_.protocolChar; }

} // namespace vantorel
