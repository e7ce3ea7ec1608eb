#pragma once

namespace vantorel {

class Run;

// Waits measured on the context's monotonic clock. Both sleep briefly between
// looks so a wait never burns a core.

// Lets window events run throughout (Cancel is seen).
void waitHandlingEvents(Run &run, double seconds);
// Handles no events: the windows do not respond meanwhile.
void waitWithoutEvents(Run &run, double seconds);
// The sleep between two looks at the line or the clock.
void pause();

} // namespace vantorel
