// File-level operations: opening, creating, header queries, stream handles and completion.
#include "avifile/avi_file.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "avifile/avi_handles.h"
#include "avifile/avi_reader.h"
#include "avifile/byte_sink.h"
#include "support/unicode_text.h"

namespace {

int g_initCount = 0;
uint64_t g_riffLimit = kDefaultRiffLimit;
HRESULT g_lastCloseResult = AVIERR_OK;
// Files being written, so that AVIFileExit can complete those their callers left open.
std::vector<IAVIFile*> g_writingFiles;

void CompleteFile(IAVIFile* file) {
    if (!file->writer || file->writer->Closed()) return;
    g_lastCloseResult = file->writer->Close();
}

void DestroyFile(IAVIFile* file) {
    CompleteFile(file);
    g_writingFiles.erase(std::remove(g_writingFiles.begin(), g_writingFiles.end(), file),
                         g_writingFiles.end());
    delete file;
}

IAVIStream* StreamObject(IAVIFile* file, size_t index) {
    if (file->streams.size() <= index) file->streams.resize(index + 1);
    std::unique_ptr<IAVIStream>& slot = file->streams[index];
    if (!slot) {
        slot = std::make_unique<IAVIStream>();
        slot->file = file;
        slot->index = index;
    }
    return slot.get();
}

HRESULT FinishOpen(PAVIFILE* file, std::unique_ptr<ByteSource> source) {
    auto opened = std::make_unique<IAVIFile>();
    HRESULT result = ParseAviFile(*source, &opened->data);
    if (result != AVIERR_OK) return result;
    opened->source = std::move(source);
    *file = opened.release();
    return AVIERR_OK;
}

}  // namespace

void AVIFileInit() {
    ++g_initCount;
}

void AVIFileExit() {
    if (g_initCount > 0 && --g_initCount > 0) return;
    // Leaving the library completes every file still open for writing; the handles stay valid
    // until released, but take no more samples.
    for (IAVIFile* file : g_writingFiles) CompleteFile(file);
}

HRESULT AVIFileOpenW(PAVIFILE* file, const char16_t* path, uint32_t mode,
                     const void* handlerClass) {
    if (!file) return AVIERR_BADPARAM;
    *file = nullptr;
    if (!path) return AVIERR_BADPARAM;
    if (handlerClass) return AVIERR_UNSUPPORTED;
    std::u16string_view name(path);
    std::string utf8 = ToUtf8(name);
    if (mode & OF_CREATE) {
        std::unique_ptr<FileByteSink> sink = FileByteSink::Create(utf8);
        if (!sink) return AVIERR_FILEOPEN;
        auto created = std::make_unique<IAVIFile>();
        created->writer = std::make_unique<AviWriter>(std::move(sink), g_riffLimit);
        *file = created.release();
        g_writingFiles.push_back(*file);
        return AVIERR_OK;
    }
    // Changing an existing file in place is not offered.
    if (mode & (OF_WRITE | OF_READWRITE)) return AVIERR_UNSUPPORTED;
    std::unique_ptr<FileByteSource> source = FileByteSource::Open(utf8);
    if (!source) return AVIERR_FILEOPEN;
    return FinishOpen(file, std::move(source));
}

HRESULT AVIFileOpenFromMemory(PAVIFILE* file, const uint8_t* data, size_t size) {
    if (!file) return AVIERR_BADPARAM;
    *file = nullptr;
    if (!data && size > 0) return AVIERR_BADPARAM;
    std::vector<uint8_t> bytes(data, data + size);
    return FinishOpen(file, std::make_unique<MemoryByteSource>(std::move(bytes)));
}

ULONG AVIFileAddRef(PAVIFILE file) {
    return file ? ++file->refs : 0;
}

ULONG AVIFileRelease(PAVIFILE file) {
    if (!file || file->refs == 0) return 0;
    ULONG left = --file->refs;
    if (left == 0) DestroyFile(file);
    return left;
}

HRESULT AVIFileInfoW(PAVIFILE file, AVIFILEINFOW* info, LONG size) {
    if (!file) return AVIERR_BADHANDLE;
    if (!info || size < 0) return AVIERR_BADPARAM;
    AVIFILEINFOW current = file->writer ? file->writer->FileInfo() : file->data.info;
    std::memcpy(info, &current, std::min<size_t>(static_cast<size_t>(size), sizeof current));
    return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD fccType, LONG index) {
    if (!stream) return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!file) return AVIERR_BADHANDLE;
    if (index < 0) return AVIERR_NODATA;
    size_t count = file->writer ? file->writer->StreamCount() : file->data.streams.size();
    LONG seen = 0;
    for (size_t i = 0; i < count; ++i) {
        if (fccType != 0 && file->StreamData(i).info.fccType != fccType) continue;
        if (seen++ != index) continue;
        IAVIStream* s = StreamObject(file, i);
        AVIStreamAddRef(s);
        *stream = s;
        return AVIERR_OK;
    }
    return AVIERR_NODATA;
}

HRESULT AVIFileCreateStreamW(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOW* info) {
    if (!stream) return AVIERR_BADPARAM;
    *stream = nullptr;
    if (!file) return AVIERR_BADHANDLE;
    if (!info) return AVIERR_BADPARAM;
    if (!file->writer) return AVIERR_READONLY;
    if (HRESULT r = file->writer->AddStream(*info); r != AVIERR_OK) return r;
    IAVIStream* s = StreamObject(file, file->writer->StreamCount() - 1);
    AVIStreamAddRef(s);
    *stream = s;
    return AVIERR_OK;
}

int AVIFileHasFailed(PAVIFILE file) {
    return file && file->writer && file->writer->Failed() ? 1 : 0;
}

HRESULT AVIFileLastCloseResult() {
    return g_lastCloseResult;
}

void AVIFileSetRiffLimitForTests(uint64_t bytes) {
    g_riffLimit =
        bytes == 0 ? kDefaultRiffLimit : std::clamp<uint64_t>(bytes, 256 * 1024, kDefaultRiffLimit);
}
