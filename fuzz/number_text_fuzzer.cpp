// Fuzz entry point for the rules that turn text into numbers and frame sizes: the window's
// width and height fields, the compressor's percentages and switches, and reframe-convert's
// --size with its aspect-keeping sides.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/convert_options.h"
#include "support/text_helpers.h"
#include "support/unicode_text.h"
#include "vidcrunch/compressor_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // As UTF-16 code units, the way the window's fields hold text.
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const int64_t value = TextToInt(units);
    TruncateToInt(static_cast<double>(value));
    IntToText(value);
    TextToInt(TrimSpaces(FromUtf8(bytes)));

    int32_t width = 0, height = 0;
    std::string error;
    if (ParseFrameSize(bytes, &width, &height, &error) != 0) {
        int32_t outWidth = 0, outHeight = 0;
        for (const auto& [sourceWidth, sourceHeight] : std::vector<std::pair<int32_t, int32_t>>{
                 {1, 1}, {1920, 1080}, {0, 0}, {INT32_MAX, 1}, {1, INT32_MAX}})
            for (const PixelAspect pixel :
                 {PixelAspect{}, PixelAspect{64, 45}, PixelAspect{1, 65535}, PixelAspect{65535, 1}})
                ResolveFrameSize(width, height, sourceWidth, sourceHeight, pixel, &outWidth,
                                 &outHeight, &error);
    }
    CompressorOptions compressor;
    ParseCompressorArguments({"in.avi", "out.avi", "/quality:" + bytes, bytes}, &compressor,
                             &error);
    ConvertOptions convert;
    ParseConvertArguments({"--size", bytes, "--quality", bytes, "--compress", "in.avi", "out.avi"},
                          &convert, &error);
    return 0;
}
