#include "avi/avi_file_record.h"

namespace {

// How many of the record's slots a loop may visit: the header's count, but never more than
// the slots that exist (a destination's count is copied from its source).
int32_t UsedSlotCount(const AviFileRecord& record) {
    const auto streams = static_cast<int32_t>(record.fileInfo.dwStreams);
    if (streams <= 0) return 0;
    return streams < STREAM_SLOT_COUNT ? streams : STREAM_SLOT_COUNT;
}

}  // namespace

int OpenSourceAvi(const std::u16string& path, AviFileRecord& record) {
    if (AVIFileOpenW(&record.fileHandle, path.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        record.fileHandle = nullptr;
        return 0;
    }
    if (AVIFileInfoW(record.fileHandle, &record.fileInfo, sizeof(AVIFILEINFOW)) != AVIERR_OK) {
        CloseAvi(record);
        return 0;
    }
    // The record has room for a fixed number of streams; a file with more is refused rather
    // than copied without some of its streams.
    const auto streams = static_cast<int32_t>(record.fileInfo.dwStreams);
    if (streams > STREAM_SLOT_COUNT) {
        record.fileInfo.dwStreams = 0;  // no slot was filled: close only the file
        CloseAvi(record);
        record.fileInfo.dwStreams = static_cast<DWORD>(streams);
        return 0;
    }

    int result = 1;
    for (int32_t i = 0; i < streams; ++i) {
        StreamSlot& slot = record.slots[i];
        if (AVIFileGetStream(record.fileHandle, &slot.streamHandle, 0, i) != AVIERR_OK) {
            slot.streamHandle = nullptr;
            result = 0;
            continue;
        }
        AVIStreamInfoW(slot.streamHandle, &slot.streamInfo, sizeof(AVISTREAMINFOW));
    }
    if (result == 0) CloseAvi(record);
    return result;
}

int CreateDestinationAvi(const std::u16string& path, AviFileRecord& record) {
    if (AVIFileOpenW(&record.fileHandle, path.c_str(), OF_CREATE | OF_WRITE, nullptr) !=
        AVIERR_OK) {
        record.fileHandle = nullptr;
        return 0;
    }
    return 1;
}

int CloseAvi(AviFileRecord& record) {
    const int32_t used = UsedSlotCount(record);
    for (int32_t i = 0; i < used; ++i) {
        StreamSlot& slot = record.slots[i];
        if (slot.streamHandle == nullptr) continue;
        AVIStreamRelease(slot.streamHandle);
        slot.streamHandle = nullptr;
    }
    if (record.fileHandle != nullptr) AVIFileRelease(record.fileHandle);
    record.fileHandle = nullptr;
    return 0;
}

int IsReadableAvi(const std::u16string& path) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, path.c_str(), OF_READ, nullptr) != AVIERR_OK) return 0;
    AVIFILEINFOW info{};
    const bool ok = AVIFileInfoW(file, &info, sizeof info) == AVIERR_OK && info.dwStreams > 0;
    AVIFileRelease(file);
    return ok ? 1 : 0;
}
