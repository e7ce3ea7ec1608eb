// HEX reading, the image check and the batch cutting on arbitrary bytes:
// nothing may crash or hang, and a sound image's batches must carry exactly
// the bytes its full checksum adds up.
#include "image/downloadimage.h"
#include "image/hexfile.h"
#include "platform/fault.h"

#include <cstdint>
#include <cstdlib>

using namespace vantorel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    ImageDescription description;
    DownloadImage image;
    try {
        image = downloadImageFrom(content, description);
    } catch (const Fault &) {
        return 0; // unreadable: refused with a message, which is all it may do
    }
    if (!image.sound())
        return 0;
    qint64 sum = 0;
    qint64 count = 0;
    for (const Batch &b : image.batches) {
        if (b.data.size() + 6 > 255 || b.addressBytes.size() != 2)
            std::abort(); // a frame whose count byte would wrap
        for (const char c : b.data)
            sum += static_cast<unsigned char>(c);
        count += b.data.size();
    }
    const qint64 expected = sum + 255 * (kFlashSize - count);
    if (count > kFlashSize || image.checksum != QString::number(expected, 16).toUpper())
        std::abort(); // the controller would refuse, or accept, the wrong image
    if (checksumBytes(image.checksum).size() != 3)
        std::abort();
    return 0;
}
