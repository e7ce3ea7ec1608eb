#pragma once

namespace vantorel {

class Run;

// A controller whose accepted answers are never whole (13 bytes with version
// and checksum) is asked again, but not for ever: at most this often at one speed.
inline constexpr int kMaxAsksAtOneSpeed = 10;

// Counts one answer that was not whole. True while the controller may be
// asked again; after the last ask it logs why, marks the controller with the
// status of a failed check and returns false.
bool askAgain(Run &run, int ctrl, int &asked);

} // namespace vantorel
