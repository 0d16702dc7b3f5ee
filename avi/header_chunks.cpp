#include "avi/header_chunks.h"

#include <vector>

void CopyHeaderChunks(PAVISTREAM source, PAVISTREAM destination) {
    for (DWORD id : AVIStreamDataIds(source)) {
        LONG size = 0;
        if (AVIStreamReadData(source, id, nullptr, &size) != AVIERR_OK || size < 0) continue;
        std::vector<uint8_t> data(static_cast<size_t>(size));
        // The writer keeps the first of two chunks of one id, as the reader gives it back.
        if (AVIStreamReadData(source, id, data.data(), &size) == AVIERR_OK)
            AVIStreamWriteData(destination, id, data.data(), size);
    }
}
