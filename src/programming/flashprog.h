#pragma once

namespace vantorel {

class Context;
struct DownloadImage;

// Programs the image into all ticked controllers at once: every batch to the
// broadcast address without an answer, the Text2 delay after each, then the
// full checksum to each ticked controller.
void FlashProg(Context &ctx, const DownloadImage &image);

// Programs the image into one controller, every batch acknowledged, then the
// full checksum.
void FlashProg00(Context &ctx, const DownloadImage &image, int ctrl);

} // namespace vantorel
