#pragma once

namespace vantorel {

class Context;

// "&Flash Info": version and checksum of every ticked controller's firmware.
void ComInfoClick(Context &ctx);
// "&Boot Info": version and checksum of every ticked controller's boot program.
void ComBootClick(Context &ctx);
// "Auto": which controllers answer, at which speed; ticks exactly those.
void AutoClick(Context &ctx);

} // namespace vantorel
