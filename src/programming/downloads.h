#pragma once

namespace vantorel {

class Context;

// "Download (Serial)": erase, program and check each ticked controller in turn.
void ComLoad00Click(Context &ctx);
// "&Download (Parallel)": erase all, program all by broadcast, check all.
void ComLoadClick(Context &ctx);

} // namespace vantorel
