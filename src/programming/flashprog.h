#pragma once

#include <QList>

namespace vantorel {

class Run;
struct DownloadImage;

// Programs the image into the controllers at once: every batch to the
// broadcast address without an answer, the Text2 delay after each, then the
// full checksum to each of 'erased' still ticked.
void FlashProg(Run &run, const DownloadImage &image, const QList<int> &erased);

// Programs the image into one controller, every batch acknowledged, then the
// full checksum. The controller's outcome notes whether it accepted the image.
void FlashProg00(Run &run, const DownloadImage &image, int ctrl);

} // namespace vantorel
