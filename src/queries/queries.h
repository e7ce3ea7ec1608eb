#pragma once

namespace vantorel {

class Run;

// "&Flash Info": version and checksum of every ticked controller's firmware.
void ComInfoClick(Run &run);
// "&Boot Info": version and checksum of every ticked controller's boot program.
void ComBootClick(Run &run);
// "Auto": which controllers answer, at which speed; ticks exactly those.
void AutoClick(Run &run);

} // namespace vantorel
