#pragma once

namespace vantorel {

class Context;

// Programs the image into all ticked controllers at once: every batch to the
// broadcast address without an answer, the Text2 delay after each, then the
// full checksum to each ticked controller.
void FlashProg(Context &ctx);

// Programs the image into one controller, every batch acknowledged, then the
// full checksum.
void FlashProg00(Context &ctx, int ctrl);

} // namespace vantorel
