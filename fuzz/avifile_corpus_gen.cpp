// Writes small hand-made AVI files for the fuzz corpus: the layouts that real writers rarely
// produce in a few kilobytes (OpenDML parts, both ix## spellings, rec lists, missing pad
// bytes, absolute idx1 offsets, short headers). Usage: avifile_corpus_gen OUTPUT_DIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class Riff {
  public:
    std::vector<uint8_t> bytes;

    void U8(uint8_t v) { bytes.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v));
        U32(static_cast<uint32_t>(v >> 32));
    }
    void Id(const char* id) {
        for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(id[i]));
    }
    void Fill(size_t n, uint8_t v) { bytes.insert(bytes.end(), n, v); }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void Patch64(size_t at, uint64_t v) {
        Patch32(at, static_cast<uint32_t>(v));
        Patch32(at + 4, static_cast<uint32_t>(v >> 32));
    }
    size_t Size() const { return bytes.size(); }

    // Opens a chunk (with a list type for LIST/RIFF); End() closes the latest.
    void Begin(const char* id, const char* type = nullptr) {
        Id(id);
        open_.push_back(bytes.size());
        U32(0);
        if (type) Id(type);
    }
    void End(bool pad = true) {
        size_t at = open_.back();
        open_.pop_back();
        uint32_t size = static_cast<uint32_t>(bytes.size() - at - 4);
        Patch32(at, size);
        if (pad && (size & 1)) U8(0);
    }
    void Chunk(const char* id, size_t n, uint8_t fill, bool pad = true) {
        Begin(id);
        Fill(n, fill);
        End(pad);
    }

  private:
    std::vector<size_t> open_;
};

void Avih(Riff& r, uint32_t streams) {
    r.Begin("avih");
    r.U32(40000);
    r.U32(0);
    r.U32(0);
    r.U32(0x10);
    r.U32(0);
    r.U32(0);
    r.U32(streams);
    r.U32(0);
    r.U32(16);
    r.U32(8);
    r.Fill(16, 0);
    r.End();
}

void Strh(Riff& r, const char* type, uint32_t scale, uint32_t rate, uint32_t sampleSize,
          size_t size = 56) {
    r.Begin("strh");
    size_t start = r.Size();
    r.Id(type);
    r.Fill(16, 0);
    r.U32(scale);
    r.U32(rate);
    r.U32(0);
    r.U32(0);
    r.U32(0);
    r.U32(0xFFFFFFFF);
    r.U32(sampleSize);
    r.Fill(8, 0);
    r.bytes.resize(start + size);
    r.End();
}

void VideoFormat(Riff& r) {
    r.Begin("strf");
    r.U32(40);
    r.U32(16);
    r.U32(8);
    r.U16(1);
    r.U16(24);
    r.Id("MJPG");
    r.Fill(20, 0);
    r.End();
}

void AudioFormat(Riff& r, uint16_t tag, uint16_t blockAlign, uint16_t cbSize, size_t extra) {
    r.Begin("strf");
    r.U16(tag);
    r.U16(1);
    r.U32(8000);
    r.U32(8000u * blockAlign);
    r.U16(blockAlign);
    r.U16(16);
    r.U16(cbSize);
    r.Fill(extra, 0x5A);
    r.End();
}

struct Written {
    const char* id;
    uint32_t flags;
    uint64_t header;  // offset of the chunk header
    uint32_t size;
};

void Idx1(Riff& r, const std::vector<Written>& chunks, uint64_t base) {
    r.Begin("idx1");
    for (const Written& c : chunks) {
        r.Id(c.id);
        r.U32(c.flags);
        r.U32(static_cast<uint32_t>(c.header - base));
        r.U32(c.size);
    }
    r.End();
}

Written Data(Riff& r, const char* id, uint32_t size, uint8_t fill, uint32_t flags,
             bool pad = true) {
    Written w{id, flags, r.Size(), size};
    r.Chunk(id, size, fill, pad);
    return w;
}

// Video and PCM audio, indexed by idx1 with offsets from 'movi' or from the file start.
Riff PlainFile(bool absolute) {
    Riff r;
    r.Begin("RIFF", "AVI ");
    r.Begin("LIST", "hdrl");
    Avih(r, 2);
    r.Begin("LIST", "strl");
    Strh(r, "vids", 1, 25, 0);
    VideoFormat(r);
    r.Begin("strn");
    r.Id("cam");
    r.U8(0);
    r.End();
    r.End();
    r.Begin("LIST", "strl");
    Strh(r, "auds", 2, 16000, 2);
    AudioFormat(r, 1, 2, 0, 0);
    r.End();
    r.End();
    r.Chunk("JUNK", 30, 0);
    r.Begin("LIST", "movi");
    uint64_t movi = r.Size() - 4;
    std::vector<Written> chunks;
    for (int i = 0; i < 6; ++i) {
        chunks.push_back(Data(r, "00dc", static_cast<uint32_t>(20 + i), static_cast<uint8_t>(i),
                              i % 3 == 0 ? 0x10 : 0));
        chunks.push_back(Data(r, "01wb", 32, 0x80, 0x10));
    }
    r.End();
    Idx1(r, chunks, absolute ? 0 : movi);
    r.End();
    return r;
}

// No index, odd chunks without pad bytes, rec lists and JUNK in movi.
Riff UnindexedFile() {
    Riff r;
    r.Begin("RIFF", "AVI ");
    r.Begin("LIST", "hdrl");
    Avih(r, 2);
    r.Begin("LIST", "strl");
    Strh(r, "vids", 1, 25, 0, 48);
    VideoFormat(r);
    r.End();
    r.Begin("LIST", "strl");
    Strh(r, "auds", 1, 8000, 1);
    AudioFormat(r, 1, 1, 0, 0);
    r.End();
    r.End();
    r.Begin("LIST", "movi");
    for (int i = 0; i < 4; ++i) {
        r.Begin("LIST", "rec ");
        Data(r, "00dc", static_cast<uint32_t>(11 + i), 1, 0, false);
        Data(r, "01wb", 7, 2, 0, false);
        r.End(false);
        r.Chunk("JUNK", 3, 0, false);
    }
    Data(r, "00db", 0, 0, 0);
    r.End();
    r.End();
    return r;
}

// Two RIFF parts with a super index per stream and an ix## standard index in each part.
Riff OpenDmlFile(bool respell) {
    Riff r;
    r.Begin("RIFF", "AVI ");
    r.Begin("LIST", "hdrl");
    Avih(r, 2);
    size_t indxEntries[2];
    for (int s = 0; s < 2; ++s) {
        r.Begin("LIST", "strl");
        if (s == 0) {
            Strh(r, "vids", 1, 25, 0);
            VideoFormat(r);
        } else {
            Strh(r, "auds", 1152, 8000, 0);
            AudioFormat(r, 0x55, 1152, 12, 12);  // MP3, frames of varying size
        }
        r.Begin("indx");
        r.U16(4);
        r.U8(0);
        r.U8(0);
        r.U32(2);
        r.Id(s == 0 ? "00dc" : "01wb");
        r.Fill(12, 0);
        indxEntries[s] = r.Size();
        r.Fill(2 * 16, 0);
        r.End();
        r.End();
    }
    r.Begin("LIST", "odml");
    r.Begin("dmlh");
    r.U32(8);
    r.Fill(244, 0);
    r.End();
    r.End();
    r.End();

    std::vector<Written> first;
    for (int part = 0; part < 2; ++part) {
        if (part == 1) r.Begin("RIFF", "AVIX");
        r.Begin("LIST", "movi");
        uint64_t movi = r.Size() - 4;
        std::vector<Written> chunks[2];
        for (int i = 0; i < 4; ++i) {
            chunks[0].push_back(Data(r, "00dc", static_cast<uint32_t>(15 + i + 4 * part),
                                     static_cast<uint8_t>(i), i == 0 ? 0x10 : 0));
            chunks[1].push_back(Data(r, "01wb", static_cast<uint32_t>(24 + i), 0x33, 0x10));
        }
        for (int s = 0; s < 2; ++s) {
            uint64_t ixAt = r.Size();
            char id[5] = {'i', 'x', '0', static_cast<char>('0' + s), 0};
            if (respell) {
                id[0] = '0';
                id[1] = static_cast<char>('0' + s);
                id[2] = 'i';
                id[3] = 'x';
            }
            r.Begin(id);
            r.U16(2);
            r.U8(0);
            r.U8(1);
            r.U32(4);
            r.Id(s == 0 ? "00dc" : "01wb");
            r.U64(movi);
            r.U32(0);
            for (const Written& c : chunks[s]) {
                r.U32(static_cast<uint32_t>(c.header + 8 - movi));
                r.U32(c.size | ((c.flags & 0x10) ? 0 : 0x80000000u));
            }
            r.End();
            r.Patch64(indxEntries[s] + 16 * part, ixAt);
            r.Patch32(indxEntries[s] + 16 * part + 8, static_cast<uint32_t>(r.Size() - ixAt));
            r.Patch32(indxEntries[s] + 16 * part + 12, 4);
            if (part == 0) first.insert(first.end(), chunks[s].begin(), chunks[s].end());
        }
        r.End();
        if (part == 0) {
            Idx1(r, first, movi);
            r.End();  // RIFF AVI
        } else {
            r.End();  // RIFF AVIX
        }
    }
    return r;
}

bool Save(const std::string& path, const Riff& r) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(r.bytes.data(), 1, r.bytes.size(), f) == r.bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    bool ok = Save(dir + "/handmade-idx1-relative.avi", PlainFile(false)) &&
              Save(dir + "/handmade-idx1-absolute.avi", PlainFile(true)) &&
              Save(dir + "/handmade-unindexed-nopad-rec.avi", UnindexedFile()) &&
              Save(dir + "/handmade-opendml-ix00.avi", OpenDmlFile(false)) &&
              Save(dir + "/handmade-opendml-00ix.avi", OpenDmlFile(true));
    return ok ? 0 : 1;
}
