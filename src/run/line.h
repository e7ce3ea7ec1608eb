#pragma once

#include "link/exchange.h"

namespace vantorel {

class Run;

// The run's line as an exchange sees it: the port, clock, settings, log,
// Cancel and outcomes of the run in hand, and nothing else of the program.
LineHandle lineOf(Run &run);

// The exchanges of link/ over the run's line.
Exchange SendReceive(Run &run, int ctrl, const QByteArray &frame, bool accept682F = false);
Exchange sendAcknowledged(Run &run, int ctrl, const QByteArray &frame, int &resends);

} // namespace vantorel
