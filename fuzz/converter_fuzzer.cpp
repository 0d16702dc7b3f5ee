// Fuzz entry point for the stream converter end to end: the input's first two bytes choose a
// tiny target size and the options, the rest is the source file. The source is converted
// into a file in memory, which is then read back whole.
#include <cstddef>
#include <cstdint>

#include "avi/avi_file_record.h"
#include "avi/stream_converter.h"
#include "avifile/decoder/frame_decoder.h"
#include "fuzz/fuzz_memory_file.h"
#include "support/unicode_text.h"

namespace {

int32_t IgnoreProgress(int32_t, int32_t, int32_t, int32_t) {
    return 0;
}

// The converter's output must itself be a file the reader takes.
void ReadBack(const std::string& path) {
    AviFileRecord copy;
    if (OpenSourceAvi(FromUtf8(path), copy) == 0) return;
    for (int32_t i = 0; i < STREAM_SLOT_COUNT && i < static_cast<int32_t>(copy.fileInfo.dwStreams);
         ++i) {
        PAVISTREAM stream = copy.slots[i].streamHandle;
        LONG bytes = 0;
        AVIStreamRead(stream, AVIStreamStart(stream), 1, nullptr, 0, &bytes, nullptr);
    }
    CloseAvi(copy);
}

// Sources with frames of more than 64 x 64 pixels are left to the decoder's target: here they
// would only spend the time on scaling large pictures that the small ones reach as well.
bool FramesAreSmall(const AviFileRecord& source) {
    for (int32_t i = 0;
         i < STREAM_SLOT_COUNT && i < static_cast<int32_t>(source.fileInfo.dwStreams); ++i) {
        const StreamSlot& slot = source.slots[i];
        if (slot.streamInfo.fccType != streamtypeVIDEO) continue;
        const RECT& frame = slot.streamInfo.rcFrame;
        if (int64_t{frame.right} - frame.left > 64 || int64_t{frame.bottom} - frame.top > 64)
            return false;
        BITMAPINFOHEADER format{};
        LONG size = sizeof format;
        if (AVIStreamReadFormat(slot.streamHandle, 0, &format, &size) == AVIERR_OK &&
            (format.biWidth > 64 || format.biWidth < -64 || format.biHeight > 64 ||
             format.biHeight < -64))
            return false;
    }
    return true;
}

}  // namespace

// One decoding thread: starting a codec's threads for every input would cost more than the
// decoding, and the threaded paths are libavcodec's, not ours.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    AVIStreamGetFrameSetThreads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int32_t width = 1 + (data[0] & 15);
    const int32_t height = 1 + (data[0] >> 4);
    // Every combination of the four window options and the two drop options.
    const uint32_t options = data[1] & 63;
    MemoryFile source(data + 2, size - 2);
    MemoryFile destination;
    if (!source.Valid() || !destination.Valid()) return 0;

    AviFileRecord in;
    AviFileRecord out;
    if (OpenSourceAvi(FromUtf8(source.Path()), in) == 0) return 0;
    if (!FramesAreSmall(in)) {
        CloseAvi(in);
        return 0;
    }
    if (CreateDestinationAvi(FromUtf8(destination.Path()), out) != 0) {
        out.fileInfo.dwWidth = static_cast<DWORD>(width);
        out.fileInfo.dwHeight = static_cast<DWORD>(height);
        ConverterSettings settings;
        settings.decoderThreads = 1;
        ConvertStreams(in, out, options, (data[1] & 64) ? IgnoreProgress : nullptr, settings);
        CloseAvi(out);
        ReadBack(destination.Path());
    }
    CloseAvi(in);
    return 0;
}
