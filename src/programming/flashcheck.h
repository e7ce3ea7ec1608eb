#pragma once

namespace vantorel {

class Run;

// Asks controller ctrl for the version and checksum of its firmware ("s"),
// shows them in its Info row and marks a checksum that differs from the
// file's. False when it got no valid answer, also not with "@".
bool FlashCheck(Run &run, int ctrl);

} // namespace vantorel
