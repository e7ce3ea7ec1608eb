// Kept apart from pty.cpp: <asm/termbits.h> redefines what <termios.h> declares.
#include "sim/pty.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vantorel {

PseudoTerminal::Settings PseudoTerminal::readSettings() const
{
    Settings s;
    termios2 t{};
    // The master reports the slave's settings; TCGETS2 gives the exact rate
    // where cfgetospeed only knows the standard ones.
    if (master_ < 0 || ::ioctl(master_, TCGETS2, &t) != 0)
        return s;
    s.baud = int(t.c_ospeed);
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB))
        s.parity = 'N';
    else if (t.c_cflag & CMSPAR)
        s.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
    else
        s.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    return s;
}

} // namespace vantorel
