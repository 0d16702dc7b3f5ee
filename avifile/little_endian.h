// Little-endian field access for the on-disk records, through memcpy so that unaligned fields
// are read and written without undefined behaviour and on any host byte order.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

inline uint16_t GetLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetLe64(const uint8_t* p) {
    return static_cast<uint64_t>(GetLe32(p)) | (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}

inline void PutLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
    PutLe32(p, static_cast<uint32_t>(v));
    PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Appends fields to a growing byte block.
class LeWriter {
  public:
    std::vector<uint8_t> bytes;
    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v) {
        uint8_t b[2];
        PutLe16(b, v);
        bytes.insert(bytes.end(), b, b + 2);
    }
    void U32(uint32_t v) {
        uint8_t b[4];
        PutLe32(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
    void U64(uint64_t v) {
        uint8_t b[8];
        PutLe64(b, v);
        bytes.insert(bytes.end(), b, b + 8);
    }
    void Raw(const void* data, size_t count) {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
    }
    void Zeros(size_t count) { bytes.insert(bytes.end(), count, 0); }
    size_t Size() const { return bytes.size(); }
    // Opens a chunk (or, with a list type, a LIST/RIFF); returns where its size goes.
    size_t BeginChunk(uint32_t id) {
        U32(id);
        size_t at = bytes.size();
        U32(0);
        return at;
    }
    // Closes a chunk opened at `sizeAt`, adding the pad byte after an odd size.
    void EndChunk(size_t sizeAt) {
        uint32_t size = static_cast<uint32_t>(bytes.size() - sizeAt - 4);
        PutLe32(bytes.data() + sizeAt, size);
        if (size & 1) U8(0);
    }
};
