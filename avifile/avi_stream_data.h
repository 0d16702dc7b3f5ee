// What the library knows of one stream and one file: the headers as callers see them, the
// format and extra header chunks, and the sample table.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "avifile/avi_types.h"
#include "avifile/sample_table.h"

struct AviStreamData {
    AVISTREAMINFOW info{};
    std::vector<uint8_t> format;
    // Other chunks of the stream's header list ('strd', 'strn', 'vprp', ...), in file order.
    std::vector<std::pair<DWORD, std::vector<uint8_t>>> extra;
    SampleTable table;
};

struct AviFileData {
    AVIFILEINFOW info{};
    std::vector<AviStreamData> streams;
};
