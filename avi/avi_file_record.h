// The record that holds one open AVI file while the engine works on it: the file's handle and
// header, and one slot (handle and header) per stream. Opening a source, creating a
// destination and closing either go through the three operations below.
#pragma once

#include <cstdint>
#include <string>

#include "avifile/avi_file.h"

constexpr int32_t STREAM_SLOT_COUNT = 8;

struct StreamSlot {
    PAVISTREAM streamHandle = nullptr;
    AVISTREAMINFOW streamInfo{};
};

struct AviFileRecord {
    PAVIFILE fileHandle = nullptr;
    AVIFILEINFOW fileInfo{};
    StreamSlot slots[STREAM_SLOT_COUNT]{};
};

// Opens `path` for reading and fetches every stream into the slots. 1 on success; on 0 the
// record holds nothing. A file with more streams than there are slots is refused.
int OpenSourceAvi(const std::u16string& path, AviFileRecord& record);
// Creates `path` (truncating an existing file) for writing; streams come later. 1 or 0.
int CreateDestinationAvi(const std::u16string& path, AviFileRecord& record);
// Gives back every stream and the file. A destination is complete only after this. Always 0.
int CloseAvi(AviFileRecord& record);

// 1 when `path` opens as an AVI file with at least one stream: what a compressor must have
// left before the only other copy of the video may be deleted. Else 0.
int IsReadableAvi(const std::u16string& path);
