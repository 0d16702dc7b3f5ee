// The objects behind PAVIFILE and PAVISTREAM, shared by the file and stream operations.
#pragma once

#include <memory>
#include <vector>

#include "avifile/avi_stream_data.h"
#include "avifile/avi_types.h"
#include "avifile/avi_writer.h"
#include "avifile/byte_source.h"

struct IAVIStream {
    ULONG refs = 0;
    IAVIFile* file = nullptr;
    size_t index = 0;
    // Callers probe a stream handle for 76 readable bytes before they use it (the size of the
    // platform's stream object); keep at least that much behind every handle.
    uint8_t probeSpace[64] = {};
};

struct IAVIFile {
    ULONG refs = 1;
    // Reading: the bytes and what was parsed from them.
    std::unique_ptr<ByteSource> source;
    AviFileData data;
    // Writing.
    std::unique_ptr<AviWriter> writer;
    std::vector<std::unique_ptr<IAVIStream>> streams;

    bool Writing() const { return writer != nullptr; }
    const AviStreamData& StreamData(size_t i) const {
        return writer ? writer->Stream(i) : data.streams[i];
    }
};

static_assert(sizeof(IAVIStream) >= 76);
