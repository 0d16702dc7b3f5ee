#include "avifile/avi_reader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>
#include <unordered_set>

#include "avifile/little_endian.h"
#include "avifile/riff_chunk.h"
#include "support/unicode_text.h"

namespace {

// 'rec ' lists may nest in badly made files; deeper nesting than this is not followed.
constexpr int kMaxListDepth = 4;
constexpr size_t kStrhSize = 56;
constexpr size_t kAvihSize = 56;
// idx1 entries whose chunk headers are read to check a whole-looking index.
constexpr size_t kSampledEntries = 64;

struct MoviRange {
    uint64_t fourcc;  // offset of the 'movi' list type, the base of relative idx1 offsets
    uint64_t begin;   // first child chunk
    uint64_t end;
};

// A data chunk of a known stream met walking a movi list, or listed by idx1.
struct FoundChunk {
    uint64_t offset;  // of its data
    uint32_t size;
    uint16_t stream;  // index in the parser's streams
    uint16_t type;    // the two characters after the stream number
};

// A data chunk of a known stream as idx1 lists it.
struct ListedChunk {
    FoundChunk chunk;
    bool key;
};

bool ByOffset(const ListedChunk& a, const ListedChunk& b) {
    return a.chunk.offset < b.chunk.offset;
}

// A stretch of a movi list to walk because idx1 does not account for all of it.
struct Gap {
    uint64_t begin;
    uint64_t end;
};

// One idx1 entry as stored.
struct Idx1Entry {
    DWORD id;
    DWORD flags;
    uint32_t offset;
    uint32_t size;
};

// Where idx1's entries put chunks in the first movi list.
struct Idx1Layout {
    std::vector<ListedChunk> listed;  // entries of known streams, in file order
    std::vector<Gap> gaps;            // stretches no entry accounts for
    bool damaged = false;  // an entry lies outside the list, names no chunk or overlaps another
};

struct ParsedStream {
    uint8_t strh[kStrhSize] = {};
    AviStreamData data;
    bool hasIndx = false;
    RiffChunk indx;
    bool sawKey = false;  // filling the table: a key chunk has been taken
};

// Two decimal digits at the front of a data chunk id give its stream number; -1 otherwise.
int StreamNumberOf(DWORD id) {
    int a = static_cast<int>(id & 0xFF) - '0';
    int b = static_cast<int>((id >> 8) & 0xFF) - '0';
    if (a < 0 || a > 9 || b < 0 || b > 9) return -1;
    return a * 10 + b;
}

// The two characters after the stream number ('db', 'dc', 'wb', 'pc', 'ix', ...).
uint16_t ChunkTypeOf(DWORD id) {
    return static_cast<uint16_t>(id >> 16);
}
constexpr uint16_t TwoCc(char a, char b) {
    return static_cast<uint16_t>(static_cast<uint8_t>(a) | (static_cast<uint8_t>(b) << 8));
}

bool IsAlnum(unsigned c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool LooksLikeDataChunk(DWORD id) {
    return StreamNumberOf(id) >= 0 && IsAlnum((id >> 16) & 0xFF) && IsAlnum(id >> 24);
}

bool LooksLikeChunk(DWORD id) {
    if (LooksLikeDataChunk(id)) return true;
    if (id == kFccList || id == kFccJunk || id == mmioFOURCC('J', 'U', 'N', 'Q') ||
        id == kFccIdx1 || id == kFccRiff)
        return true;
    // Standard indexes named ix## inside movi.
    return (id & 0xFFFF) == TwoCc('i', 'x') && StreamNumberOf(id >> 16) >= 0;
}

// Stream names are 8-bit text; UTF-8 where it is valid, else the Latin-1 code page.
std::u16string DecodeName(const std::vector<uint8_t>& bytes) {
    std::string text(bytes.begin(), std::find(bytes.begin(), bytes.end(), 0));
    std::u16string utf16 = FromUtf8(text);
    bool replaced = utf16.find(u'\uFFFD') != std::u16string::npos;
    if (replaced && text.find("\xEF\xBF\xBD") == std::string::npos) {
        utf16.clear();
        for (unsigned char c : text) utf16.push_back(static_cast<char16_t>(c));
    }
    return utf16;
}

class AviParser {
  public:
    explicit AviParser(ByteSource& source) : src_(source), fileSize_(source.Size()) {}
    HRESULT Run(AviFileData* file);

  private:
    std::vector<uint8_t> ReadData(const RiffChunk& chunk);
    void ParseRiffChildren(uint64_t begin, uint64_t end, bool first);
    void ParseHeaderList(const RiffChunk& list);
    void ParseStreamList(const RiffChunk& list);
    bool LoadOpenDmlIndexes();
    void LoadStandardIndexAt(uint64_t offset, ParsedStream& stream);
    void LoadStandardIndex(const RiffChunk& chunk, ParsedStream& stream);
    bool LoadIdx1();
    bool ReadIdx1(std::vector<Idx1Entry>* entries);
    ParsedStream* Idx1EntryStream(const Idx1Entry& entry);
    bool ChooseIdx1Base(const std::vector<Idx1Entry>& entries, uint64_t* base);
    Idx1Layout PlaceIdx1Entries(const std::vector<Idx1Entry>& entries, uint64_t base,
                                const MoviRange& movi);
    bool GapsAgreeWithIdx1(const Idx1Layout& layout, std::vector<FoundChunk>* found);
    bool SampledEntriesAreThere(const std::vector<ListedChunk>& listed,
                                const std::vector<FoundChunk>& found);
    void ScanList(uint64_t begin, uint64_t end, int depth, std::vector<FoundChunk>* found);
    void ScanMovi(const MoviRange& movi);
    void AppendMerged(const std::vector<ListedChunk>& listed, const std::vector<FoundChunk>& found);
    bool ConfirmListed(const FoundChunk& entry, const std::vector<FoundChunk>& found);
    uint64_t FindNextDataChunk(uint64_t from, uint64_t end);
    ParsedStream* StreamByNumber(int number);
    void ClearTables();
    void BuildStreamInfo(ParsedStream& stream);
    void BuildFileInfo(AviFileData* file);

    ByteSource& src_;
    uint64_t fileSize_;
    uint8_t avih_[kAvihSize] = {};
    bool seenHeaderList_ = false;
    bool headerListCut_ = false;  // the file ends inside the header list
    std::vector<ParsedStream> streams_;
    std::vector<int> numberToStream_;  // stream list ordinal -> index in streams_, or -1
    std::vector<MoviRange> movis_;
    bool hasIdx1_ = false;
    RiffChunk idx1_;
    std::unordered_set<uint64_t> visitedIndexes_;
};

std::vector<uint8_t> AviParser::ReadData(const RiffChunk& chunk) {
    // The chunk's size is already clipped to its parent, which lies within the file.
    std::vector<uint8_t> bytes(chunk.size);
    if (!src_.ReadAt(chunk.dataOffset, bytes.data(), bytes.size())) bytes.clear();
    return bytes;
}

HRESULT AviParser::Run(AviFileData* file) {
    uint8_t head[12];
    if (fileSize_ < 12 || !src_.ReadAt(0, head, 12)) return AVIERR_BADFORMAT;
    if (GetLe32(head) != kFccRiff || GetLe32(head + 8) != kFccAvi) return AVIERR_BADFORMAT;
    RiffChunk riff;
    ReadRiffChunk(src_, 0, fileSize_, &riff);
    // A RIFF size of 0 is left by writers that never finished the file.
    uint64_t riffEnd = GetLe32(head + 4) == 0 ? fileSize_ : riff.dataOffset + riff.size;
    ParseRiffChildren(12, riffEnd, true);
    // A file cut inside its headers, or before its data list began, holds no usable stream.
    if (!seenHeaderList_ || headerListCut_ || movis_.empty()) return AVIERR_BADFORMAT;

    // OpenDML continuation lists follow the first RIFF.
    uint64_t pos = riff.next;
    RiffChunk next;
    while (pos < fileSize_ && ReadRiffChunk(src_, pos, fileSize_, &next)) {
        if (next.id == kFccRiff && ReadListType(src_, next) == kFccAvix) {
            ParseRiffChildren(next.dataOffset + 4, next.dataOffset + next.size, false);
        } else if (next.id != kFccJunk) {
            break;
        }
        pos = next.next;
    }

    if (!LoadOpenDmlIndexes()) {
        ClearTables();
        if (LoadIdx1()) {
            // idx1 covers the first RIFF only; later parts are found by walking them.
            for (size_t i = 1; i < movis_.size(); ++i) ScanMovi(movis_[i]);
        } else {
            ClearTables();
            for (const MoviRange& movi : movis_) ScanMovi(movi);
        }
    }

    file->streams.clear();
    file->streams.reserve(streams_.size());
    for (ParsedStream& stream : streams_) {
        BuildStreamInfo(stream);
        file->streams.push_back(std::move(stream.data));
    }
    BuildFileInfo(file);
    return AVIERR_OK;
}

void AviParser::ParseRiffChildren(uint64_t begin, uint64_t end, bool first) {
    uint64_t pos = begin;
    RiffChunk chunk;
    while (pos < end && ReadRiffChunk(src_, pos, end, &chunk)) {
        pos = chunk.next;
        if (chunk.id == kFccList) {
            DWORD type = ReadListType(src_, chunk);
            if (type == kFccHdrl && first && !seenHeaderList_) {
                seenHeaderList_ = true;
                headerListCut_ = chunk.clipped && end == fileSize_;
                ParseHeaderList(chunk);
            } else if (type == kFccMovi) {
                movis_.push_back(
                    {chunk.dataOffset, chunk.dataOffset + 4, chunk.dataOffset + chunk.size});
            } else if (chunk.size < 4 && first && seenHeaderList_ && movis_.empty()) {
                // A movi list whose size was never written runs to the end of its RIFF.
                uint8_t type4[4];
                if (end - chunk.dataOffset >= 4 && src_.ReadAt(chunk.dataOffset, type4, 4) &&
                    GetLe32(type4) == kFccMovi) {
                    movis_.push_back({chunk.dataOffset, chunk.dataOffset + 4, end});
                    pos = end;
                }
            }
        } else if (chunk.id == kFccIdx1 && first) {
            hasIdx1_ = true;
            idx1_ = chunk;
        }
    }
}

void AviParser::ParseHeaderList(const RiffChunk& list) {
    uint64_t end = list.dataOffset + list.size;
    uint64_t pos = list.dataOffset + 4;
    RiffChunk chunk;
    while (pos < end && ReadRiffChunk(src_, pos, end, &chunk)) {
        pos = chunk.next;
        if (chunk.id == kFccAvih) {
            size_t n = std::min<size_t>(chunk.size, kAvihSize);
            std::fill(std::begin(avih_), std::end(avih_), 0);
            if (!src_.ReadAt(chunk.dataOffset, avih_, n))
                std::fill(std::begin(avih_), std::end(avih_), 0);
        } else if (chunk.id == kFccList && ReadListType(src_, chunk) == kFccStrl) {
            ParseStreamList(chunk);
        }
    }
}

void AviParser::ParseStreamList(const RiffChunk& list) {
    ParsedStream stream;
    bool hasStrh = false;
    uint64_t end = list.dataOffset + list.size;
    uint64_t pos = list.dataOffset + 4;
    RiffChunk chunk;
    while (pos < end && ReadRiffChunk(src_, pos, end, &chunk)) {
        pos = chunk.next;
        switch (chunk.id) {
            case kFccStrh:
                if (!hasStrh && chunk.size >= 4) {
                    // Older files have a shorter header: what is missing reads as 0.
                    hasStrh = src_.ReadAt(chunk.dataOffset, stream.strh,
                                          std::min<size_t>(chunk.size, kStrhSize));
                }
                break;
            case kFccStrf:
                if (stream.data.format.empty()) stream.data.format = ReadData(chunk);
                break;
            case kFccIndx:
                if (!stream.hasIndx) {
                    stream.hasIndx = true;
                    stream.indx = chunk;
                }
                break;
            case kFccJunk:
            case kFccList:
                break;
            default:
                stream.data.extra.emplace_back(chunk.id, ReadData(chunk));
                break;
        }
    }
    numberToStream_.push_back(hasStrh ? static_cast<int>(streams_.size()) : -1);
    if (hasStrh) streams_.push_back(std::move(stream));
}

ParsedStream* AviParser::StreamByNumber(int number) {
    if (number < 0 || static_cast<size_t>(number) >= numberToStream_.size()) return nullptr;
    int index = numberToStream_[static_cast<size_t>(number)];
    return index < 0 ? nullptr : &streams_[static_cast<size_t>(index)];
}

void AviParser::ClearTables() {
    for (ParsedStream& stream : streams_) {
        stream.data.table = SampleTable();
        stream.sawKey = false;
    }
}

// Every stream's 'indx' super index points at the ix## standard indexes of all RIFF parts.
bool AviParser::LoadOpenDmlIndexes() {
    if (streams_.empty()) return false;
    size_t loaded = 0;
    for (ParsedStream& stream : streams_) {
        if (!stream.hasIndx || stream.indx.size < 24) return false;
        uint8_t head[24];
        if (!src_.ReadAt(stream.indx.dataOffset, head, sizeof head)) return false;
        uint16_t longsPerEntry = GetLe16(head);
        uint8_t indexType = head[3];
        uint32_t entriesInUse = GetLe32(head + 4);
        if (indexType == 1) {
            // Some writers put a standard index straight into the stream header.
            LoadStandardIndex(stream.indx, stream);
        } else if (indexType == 0 && longsPerEntry == 4) {
            uint64_t count = std::min<uint64_t>(entriesInUse, (stream.indx.size - 24) / 16);
            std::vector<uint8_t> entries(static_cast<size_t>(count * 16));
            if (!src_.ReadAt(stream.indx.dataOffset + 24, entries.data(), entries.size()))
                return false;
            for (size_t i = 0; i < count; ++i)
                LoadStandardIndexAt(GetLe64(&entries[i * 16]), stream);
        } else {
            return false;
        }
        loaded += stream.data.table.ChunkCount();
    }
    return loaded > 0;
}

void AviParser::LoadStandardIndexAt(uint64_t offset, ParsedStream& stream) {
    RiffChunk chunk;
    if (!ReadRiffChunk(src_, offset, fileSize_, &chunk) || chunk.clipped) return;
    LoadStandardIndex(chunk, stream);
}

void AviParser::LoadStandardIndex(const RiffChunk& chunk, ParsedStream& stream) {
    // Each index chunk is read once, so entries that point back at an index (or at themselves)
    // cannot make the load loop.
    if (!visitedIndexes_.insert(chunk.headerOffset).second) return;

    if (chunk.size < 24) return;
    uint8_t head[24];
    if (!src_.ReadAt(chunk.dataOffset, head, sizeof head)) return;
    uint16_t longsPerEntry = GetLe16(head);
    uint8_t indexType = head[3];
    uint32_t entriesInUse = GetLe32(head + 4);
    uint64_t base = GetLe64(head + 12);
    // Frame indexes have 2 DWORDs per entry, field indexes 3; anything else is not understood.
    if (indexType != 1 || (longsPerEntry != 2 && longsPerEntry != 3) || base > fileSize_) return;
    size_t entrySize = longsPerEntry * 4u;
    uint64_t count = std::min<uint64_t>(entriesInUse, (chunk.size - 24) / entrySize);
    std::vector<uint8_t> entries(static_cast<size_t>(count * entrySize));
    if (!src_.ReadAt(chunk.dataOffset + 24, entries.data(), entries.size())) return;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &entries[i * entrySize];
        uint64_t data = base + GetLe32(e);
        uint32_t size = GetLe32(e + 4);
        bool key = (size & 0x80000000u) == 0;
        size &= 0x7FFFFFFFu;
        if (data > fileSize_ || size > fileSize_ - data) continue;
        stream.data.table.Append(data, size, key);
    }
}

// idx1 lists the chunks of the first movi list. It is trusted alone only where its chunks
// follow each other without overlap from the list's start to its end, the stretches between
// them hold nothing listed, and a sample of its entries name the chunks found at their places.
// Otherwise the list is walked, and of the entries those that name a chunk there are kept (for
// their key flags). A file cut inside its index, or extended after it was written, leaves
// chunks out; damaged entries overlap others, lie outside the list or name no chunk.
bool AviParser::LoadIdx1() {
    if (!hasIdx1_ || movis_.empty()) return false;
    std::vector<Idx1Entry> entries;
    uint64_t base = 0;
    if (!ReadIdx1(&entries) || !ChooseIdx1Base(entries, &base)) return false;
    const MoviRange& movi = movis_[0];
    Idx1Layout layout = PlaceIdx1Entries(entries, base, movi);
    entries = std::vector<Idx1Entry>();

    std::vector<FoundChunk> found;
    bool damaged = layout.damaged || !GapsAgreeWithIdx1(layout, &found) ||
                   !SampledEntriesAreThere(layout.listed, found);
    if (damaged) {
        found.clear();
        ScanList(movi.begin, movi.end, 0, &found);
        std::vector<ListedChunk>& listed = layout.listed;
        listed.erase(
            std::remove_if(listed.begin(), listed.end(),
                           [&](const ListedChunk& c) { return !ConfirmListed(c.chunk, found); }),
            listed.end());
    }
    AppendMerged(layout.listed, found);
    for (const ParsedStream& stream : streams_)
        if (stream.data.table.ChunkCount() > 0) return true;
    return false;
}

bool AviParser::ReadIdx1(std::vector<Idx1Entry>* entries) {
    const size_t count = idx1_.size / 16;
    if (count == 0) return false;
    std::vector<uint8_t> bytes(count * 16);
    if (!src_.ReadAt(idx1_.dataOffset, bytes.data(), bytes.size())) return false;
    entries->resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = &bytes[i * 16];
        (*entries)[i] = {GetLe32(e), GetLe32(e + 4), GetLe32(e + 8), GetLe32(e + 12)};
    }
    return true;
}

// The stream an entry's chunk belongs to; null for lists, palette changes, indexes and chunks
// of unknown streams.
ParsedStream* AviParser::Idx1EntryStream(const Idx1Entry& entry) {
    if (entry.flags & AVIIF_LIST) return nullptr;
    const uint16_t type = ChunkTypeOf(entry.id);
    if (type == TwoCc('p', 'c') || type == TwoCc('i', 'x')) return nullptr;
    return StreamByNumber(StreamNumberOf(entry.id));
}

// Offsets are relative to the 'movi' list type in most files and absolute in some; one choice
// holds for the whole file, made from the first entries. False when neither fits.
bool AviParser::ChooseIdx1Base(const std::vector<Idx1Entry>& entries, uint64_t* base) {
    const Idx1Entry* first = nullptr;
    uint64_t smallest = UINT64_MAX;
    for (size_t i = 0, seen = 0; i < entries.size() && seen < 16; ++i) {
        if (!Idx1EntryStream(entries[i])) continue;
        if (!first) first = &entries[i];
        smallest = std::min<uint64_t>(smallest, entries[i].offset);
        ++seen;
    }
    if (!first) return false;
    auto idAt = [&](uint64_t pos) {
        uint8_t bytes[4];
        return pos <= fileSize_ && fileSize_ - pos >= 8 && src_.ReadAt(pos, bytes, 4) &&
               GetLe32(bytes) == first->id;
    };
    const uint64_t moviBase = movis_[0].fourcc;
    const bool relativeFits = idAt(moviBase + first->offset);
    if (smallest < moviBase || relativeFits) {
        *base = moviBase;
        return relativeFits;
    }
    *base = 0;
    return idAt(first->offset);
}

Idx1Layout AviParser::PlaceIdx1Entries(const std::vector<Idx1Entry>& entries, uint64_t base,
                                       const MoviRange& movi) {
    Idx1Layout layout;
    // Every entry's chunk, listed streams or not: header, end of data, and after the pad byte.
    struct Extent {
        uint64_t begin;
        uint64_t end;
        uint64_t padded;
    };
    std::vector<Extent> extents;
    extents.reserve(entries.size());
    for (const Idx1Entry& e : entries) {
        const bool list = (e.flags & AVIIF_LIST) != 0 || e.id == kFccRec;
        const uint64_t header = base + e.offset;
        const uint64_t length = list ? 4 : e.size;  // a list's entry stands for its header only
        if ((!list && !LooksLikeChunk(e.id)) || header < movi.begin || header > movi.end ||
            movi.end - header < 8 + length) {
            layout.damaged = true;
            continue;
        }
        extents.push_back({header, header + 8 + length, header + 8 + PaddedChunkSize(length)});
        if (ParsedStream* stream = Idx1EntryStream(e)) {
            layout.listed.push_back(
                {{header + 8, e.size, static_cast<uint16_t>(stream - streams_.data()),
                  ChunkTypeOf(e.id)},
                 (e.flags & AVIIF_KEYFRAME) != 0});
        }
    }
    std::vector<ListedChunk>& listed = layout.listed;
    if (!std::is_sorted(listed.begin(), listed.end(), ByOffset))
        std::stable_sort(listed.begin(), listed.end(), ByOffset);

    // Each gap is walked from the header of the chunk before it, so that an entry claiming less
    // than its chunk holds is noticed.
    auto byBegin = [](const Extent& a, const Extent& b) { return a.begin < b.begin; };
    if (!std::is_sorted(extents.begin(), extents.end(), byBegin))
        std::sort(extents.begin(), extents.end(), byBegin);
    uint64_t exact = movi.begin, padded = movi.begin, previous = movi.begin;
    for (const Extent& x : extents) {
        if (x.begin < exact) {
            layout.damaged = true;  // overlaps the chunk before it
            break;
        }
        // Writers that leave out pad bytes start the next chunk one byte early.
        if (x.begin > padded) layout.gaps.push_back({previous, x.begin});
        exact = x.end;
        padded = x.padded;
        previous = x.begin;
    }
    if (padded < movi.end) layout.gaps.push_back({previous, movi.end});
    return layout;
}

// In a whole file the gaps hold nothing but JUNK, list headers or standard indexes, if
// anything; a chunk met at a listed place must be the one listed. Gives what the walk found.
bool AviParser::GapsAgreeWithIdx1(const Idx1Layout& layout, std::vector<FoundChunk>* found) {
    for (const Gap& gap : layout.gaps) ScanList(gap.begin, gap.end, 0, found);
    const std::vector<ListedChunk>& listed = layout.listed;
    for (const FoundChunk& c : *found) {
        auto at = std::lower_bound(listed.begin(), listed.end(), ListedChunk{c, false}, ByOffset);
        if (at != listed.end() && at->chunk.offset == c.offset &&
            (at->chunk.stream != c.stream || at->chunk.type != c.type || at->chunk.size != c.size))
            return false;
    }
    return true;
}

// Entries whose place is right but whose id or size is not are found by their chunk headers.
// Reading every header would cost a pass over the whole list on every open, so a few spread
// over the index are read: enough to catch an index written wrongly, or rewritten, throughout.
bool AviParser::SampledEntriesAreThere(const std::vector<ListedChunk>& listed,
                                       const std::vector<FoundChunk>& found) {
    if (listed.empty()) return true;
    const size_t step = std::max<size_t>(1, listed.size() / kSampledEntries);
    for (size_t i = 0; i < listed.size(); i += step)
        if (!ConfirmListed(listed[i].chunk, found)) return false;
    return ConfirmListed(listed.back().chunk, found);
}

// Whether a listed chunk is really there: the walk met it, or (where the walk lost its way) its
// header names it.
bool AviParser::ConfirmListed(const FoundChunk& entry, const std::vector<FoundChunk>& found) {
    auto it = std::lower_bound(
        found.begin(), found.end(), entry.offset,
        [](const FoundChunk& chunk, uint64_t offset) { return chunk.offset < offset; });
    if (it != found.end() && it->offset == entry.offset)
        return it->stream == entry.stream && it->type == entry.type && it->size == entry.size;
    uint8_t header[8];
    if (!src_.ReadAt(entry.offset - 8, header, sizeof header)) return false;
    DWORD id = GetLe32(header);
    ParsedStream* stream = StreamByNumber(StreamNumberOf(id));
    return stream && static_cast<size_t>(stream - streams_.data()) == entry.stream &&
           ChunkTypeOf(id) == entry.type && GetLe32(header + 4) == entry.size;
}

// Fills the tables from listed chunks (in file order, with idx1's key flags) and walked ones,
// in file order. A walked chunk that is a listed one, or overlaps one (a false header met in
// damaged data), is left out. Walked chunks' key flags are only known for uncompressed video;
// of compressed video the first frame of a stream without a key frame so far is taken as one,
// so a decoder starts there.
void AviParser::AppendMerged(const std::vector<ListedChunk>& listed,
                             const std::vector<FoundChunk>& found) {
    std::vector<size_t> perStream(streams_.size(), 0);
    for (const ListedChunk& c : listed) ++perStream[c.chunk.stream];
    for (const FoundChunk& c : found) ++perStream[c.stream];
    for (size_t i = 0; i < streams_.size(); ++i)
        streams_[i].data.table.Reserve(streams_[i].data.table.ChunkCount() + perStream[i]);

    auto append = [&](const FoundChunk& c, bool key) {
        ParsedStream& stream = streams_[c.stream];
        stream.data.table.Append(c.offset, c.size, key);
        if (key) stream.sawKey = true;
    };
    uint64_t listedEnd = 0;  // end of the last listed chunk taken
    size_t i = 0, j = 0;
    while (i < listed.size() || j < found.size()) {
        if (j == found.size() || (i < listed.size() && listed[i].chunk.offset <= found[j].offset)) {
            const ListedChunk& c = listed[i++];
            if (c.chunk.offset - 8 < listedEnd) continue;  // the same chunk listed twice
            append(c.chunk, c.key);
            listedEnd = c.chunk.offset + c.chunk.size;
            continue;
        }
        const FoundChunk& c = found[j++];
        if (c.offset - 8 < listedEnd) continue;
        if (i < listed.size() && c.offset + c.size > listed[i].chunk.offset - 8) continue;
        ParsedStream& stream = streams_[c.stream];
        bool key = true;
        if (GetLe32(stream.strh) == streamtypeVIDEO) {
            if (c.size == 0) {
                key = false;
            } else if (c.type != TwoCc('d', 'b')) {
                key = !stream.sawKey;
            }
        }
        append(c, key);
    }
}

void AviParser::ScanMovi(const MoviRange& movi) {
    std::vector<FoundChunk> found;
    ScanList(movi.begin, movi.end, 0, &found);
    AppendMerged({}, found);
}

// Looks for the next plausible data chunk header at or after `from`: a stream chunk id of a
// known stream whose size fits. Returns `end` when there is none. The blocks read grow from
// small, so damage that makes the walk look again every few bytes costs little each time.
uint64_t AviParser::FindNextDataChunk(uint64_t from, uint64_t end) {
    constexpr size_t kLargestBlock = 64 * 1024;
    size_t blockSize = 512;
    std::vector<uint8_t> block;
    uint64_t pos = from;
    while (pos < end && end - pos >= 8) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(blockSize, end - pos));
        block.resize(n);
        if (!src_.ReadAt(pos, block.data(), n)) return end;
        for (size_t i = 0; i + 8 <= n; ++i) {
            DWORD id = GetLe32(&block[i]);
            if (!LooksLikeDataChunk(id) || !StreamByNumber(StreamNumberOf(id))) continue;
            uint64_t size = GetLe32(&block[i + 4]);
            if (size <= end - (pos + i + 8)) return pos + i;
        }
        pos += n - 7;  // overlap so headers across block borders are seen
        blockSize = std::min(blockSize * 2, kLargestBlock);
    }
    return end;
}

// Walks the chunks of a movi (or 'rec ') list from `begin` to `end`, collecting the data chunks
// of known streams in file order. Every step moves forward, so the walk ends within the list.
void AviParser::ScanList(uint64_t begin, uint64_t end, int depth, std::vector<FoundChunk>* found) {
    uint64_t pos = begin;
    bool previousOdd = false;
    RiffChunk chunk;
    while (pos < end) {
        bool ok = ReadRiffChunk(src_, pos, end, &chunk);
        if (!ok || !LooksLikeChunk(chunk.id)) {
            // Writers that leave out the pad byte put the next header one byte earlier.
            RiffChunk unpadded;
            if (previousOdd && ReadRiffChunk(src_, pos - 1, end, &unpadded) &&
                LooksLikeChunk(unpadded.id)) {
                chunk = unpadded;
            } else if (!ok) {
                break;
            } else {
                previousOdd = false;
                pos = FindNextDataChunk(pos + 1, end);
                continue;
            }
        }
        previousOdd = HasPadByte(chunk.size);
        pos = chunk.next;
        if (chunk.id == kFccList) {
            if (depth < kMaxListDepth && ReadListType(src_, chunk) == kFccRec)
                ScanList(chunk.dataOffset + 4, chunk.dataOffset + chunk.size, depth + 1, found);
            continue;
        }
        if (!LooksLikeDataChunk(chunk.id)) continue;
        uint16_t type = ChunkTypeOf(chunk.id);
        if (type == TwoCc('p', 'c') || type == TwoCc('i', 'x')) continue;
        ParsedStream* stream = StreamByNumber(StreamNumberOf(chunk.id));
        if (!stream) continue;
        if (chunk.clipped) break;  // the file ends inside this chunk
        found->push_back(
            {chunk.dataOffset, chunk.size, static_cast<uint16_t>(stream - streams_.data()), type});
    }
}

// The size samples are counted in: 0 for one sample per chunk.
uint32_t EffectiveSampleSize(DWORD type, uint32_t declared, const std::vector<uint8_t>& format) {
    if (type == streamtypeVIDEO) return 0;  // a video chunk is one frame, whatever the header says
    if (type != streamtypeAUDIO || format.size() < 14) return declared;
    uint16_t tag = GetLe16(format.data());
    uint16_t blockAlign = GetLe16(format.data() + 12);
    if (tag == WAVE_FORMAT_MPEG || tag == WAVE_FORMAT_MPEGLAYER3) {
        // A sample size as large as an MPEG frame's sample count means frames of varying size.
        if (declared >= 384 || blockAlign >= 384) return 0;
        return declared;
    }
    if (blockAlign == 0) return declared;
    if (declared != 0) return blockAlign;
    // PCM-like formats are constant-rate by nature: their block align is the sample size.
    bool constantRate = tag == 1 || tag == 3 || tag == 6 || tag == 7 || tag == 0xFFFE;
    return constantRate ? blockAlign : 0;
}

void AviParser::BuildStreamInfo(ParsedStream& stream) {
    const uint8_t* h = stream.strh;
    AVISTREAMINFOW& info = stream.data.info;
    info = AVISTREAMINFOW{};
    info.fccType = GetLe32(h);
    info.fccHandler = GetLe32(h + 4);
    info.dwFlags = GetLe32(h + 8);
    info.wPriority = GetLe16(h + 12);
    info.wLanguage = GetLe16(h + 14);
    info.dwInitialFrames = GetLe32(h + 16);
    info.dwScale = GetLe32(h + 20);
    info.dwRate = GetLe32(h + 24);
    DWORD start = GetLe32(h + 28);
    info.dwQuality = GetLe32(h + 40);
    // A start that positions can't express is taken as 0.
    info.dwStart = start <= INT32_MAX ? start : 0;
    info.rcFrame.left = static_cast<int16_t>(GetLe16(h + 48));
    info.rcFrame.top = static_cast<int16_t>(GetLe16(h + 50));
    info.rcFrame.right = static_cast<int16_t>(GetLe16(h + 52));
    info.rcFrame.bottom = static_cast<int16_t>(GetLe16(h + 54));

    // WAVEFORMATEX.cbSize may claim more extra bytes than the chunk holds.
    std::vector<uint8_t>& format = stream.data.format;
    if (info.fccType == streamtypeAUDIO && format.size() >= 18) {
        uint16_t cbSize = GetLe16(format.data() + 16);
        if (cbSize > format.size() - 18)
            PutLe16(format.data() + 16, static_cast<uint16_t>(format.size() - 18));
    }

    SampleTable& table = stream.data.table;
    table.Finish(EffectiveSampleSize(info.fccType, GetLe32(h + 44), format),
                 static_cast<int64_t>(INT32_MAX) - info.dwStart);
    info.dwSampleSize = table.SampleSize();
    info.dwLength = static_cast<DWORD>(table.SampleCount());
    info.dwSuggestedBufferSize = std::max(GetLe32(h + 36), table.MaxChunkSize());

    if (info.fccType == streamtypeVIDEO &&
        (info.rcFrame.right <= info.rcFrame.left || info.rcFrame.bottom <= info.rcFrame.top) &&
        format.size() >= 12) {
        int32_t width = static_cast<int32_t>(GetLe32(format.data() + 4));
        int32_t height = static_cast<int32_t>(GetLe32(format.data() + 8));
        info.rcFrame = RECT{0, 0, width, height == INT32_MIN ? INT32_MAX : std::abs(height)};
    }

    for (const auto& [fcc, bytes] : stream.data.extra) {
        if (fcc != kFccStrn) continue;
        std::u16string name = DecodeName(bytes);
        size_t n = std::min<size_t>(name.size(), 63);
        std::copy_n(name.begin(), n, info.szName);
        info.szName[n] = 0;
        break;
    }
}

void AviParser::BuildFileInfo(AviFileData* file) {
    AVIFILEINFOW& info = file->info;
    info = AVIFILEINFOW{};
    DWORD microSecPerFrame = GetLe32(avih_);
    info.dwMaxBytesPerSec = GetLe32(avih_ + 4);
    info.dwFlags = GetLe32(avih_ + 12);
    info.dwCaps = AVIFILECAPS_CANREAD;
    info.dwStreams = static_cast<DWORD>(file->streams.size());
    info.dwSuggestedBufferSize = GetLe32(avih_ + 28);
    info.dwWidth = GetLe32(avih_ + 32);
    info.dwHeight = GetLe32(avih_ + 36);

    const AviStreamData* video = nullptr;
    for (const AviStreamData& s : file->streams) {
        info.dwSuggestedBufferSize =
            std::max(info.dwSuggestedBufferSize, s.info.dwSuggestedBufferSize);
        if (!video && s.info.fccType == streamtypeVIDEO) video = &s;
    }
    if ((info.dwWidth == 0 || info.dwHeight == 0) && video) {
        const RECT& r = video->info.rcFrame;
        info.dwWidth = static_cast<DWORD>(std::max<int64_t>(0, int64_t{r.right} - r.left));
        info.dwHeight = static_cast<DWORD>(std::max<int64_t>(0, int64_t{r.bottom} - r.top));
    }
    // The file's time base is its frame duration in microseconds.
    if (microSecPerFrame != 0) {
        info.dwScale = microSecPerFrame;
        info.dwRate = 1000000;
    } else if (video) {
        info.dwScale = video->info.dwScale;
        info.dwRate = video->info.dwRate;
    }
    double length = 0;
    for (const AviStreamData& s : file->streams) {
        if (s.info.dwRate == 0 || s.info.dwScale == 0 || info.dwRate == 0 || info.dwScale == 0)
            continue;
        double seconds =
            (double(s.info.dwStart) + double(s.info.dwLength)) * s.info.dwScale / s.info.dwRate;
        length = std::max(length, std::ceil(seconds * info.dwRate / info.dwScale - 1e-9));
    }
    info.dwLength = length >= 4294967295.0 ? UINT32_MAX : static_cast<DWORD>(length);
    const char16_t type[] = u"AVI";
    std::copy(std::begin(type), std::end(type), info.szFileType);
}

}  // namespace

HRESULT ParseAviFile(ByteSource& source, AviFileData* file) {
    AviParser parser(source);
    return parser.Run(file);
}
