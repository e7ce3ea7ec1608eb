#pragma once

namespace vantorel {

class Run;

// "Download (Serial)": erase, program and check each ticked controller in turn.
void ComLoad00Click(Run &run);
// "&Download (Parallel)": erase all, program all by broadcast, check all.
void ComLoadClick(Run &run);

} // namespace vantorel
