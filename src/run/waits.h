#pragma once

namespace vantorel {

class Run;

// A wait measured on the run's monotonic clock, letting window events run
// throughout (Cancel is seen); it sleeps briefly between looks so it never
// burns a core.
void waitHandlingEvents(Run &run, double seconds);
// The sleep between two looks at the line or the clock.
void pause();

} // namespace vantorel
