// The AVI file services: open, inspect, read and write AVI files (AVI 1.0 and OpenDML) through
// the same operations, results and records as the Windows AVIFile library.
//
// Results are 0 (AVIERR_OK) for success and an AVIERR_ value otherwise. Handles are reference
// counted: AVIFileGetStream and AVIFileCreateStreamW give a stream reference that also keeps
// its file alive, so streams and the file may be released in any order. A file opened for
// writing is completed (headers, indexes) when its last reference goes.
//
// Positions: a stream's samples sit at positions AVIStreamStart() up to, not including,
// AVIStreamStart() + AVIStreamLength(). A position below the start stands for the start, in
// reads as in the first write, so that a stream copied "from position 0" keeps all its samples.
//
// Everything here runs on one thread; nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avifile/avi_types.h"

// Library lifetime. The operations below work without these calls too; the count only lets
// AVIFileExit tell whether every AVIFileInit was matched.
void AVIFileInit();
void AVIFileExit();

// Opens `path` (UTF-16, NUL-terminated). Mode OF_READ reads an existing file; OF_CREATE (with or
// without OF_WRITE) creates the file or truncates an existing one and opens it for writing.
// `handlerClass` must be null.
HRESULT AVIFileOpenW(PAVIFILE* file, const char16_t* path, uint32_t mode, const void* handlerClass);
// Opens an in-memory copy of a whole file for reading (tests and fuzzing).
HRESULT AVIFileOpenFromMemory(PAVIFILE* file, const uint8_t* data, size_t size);

ULONG AVIFileAddRef(PAVIFILE file);
// Gives back one reference; returns the references left. The last one completes a file opened
// for writing and frees it; AVIFileLastCloseResult tells whether that completion succeeded.
ULONG AVIFileRelease(PAVIFILE file);

// Copies min(size, 172) bytes of the file's header into `info`.
HRESULT AVIFileInfoW(PAVIFILE file, AVIFILEINFOW* info, LONG size);

// The `index`-th stream of type `fccType` (0: of any type), with a new reference.
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD fccType, LONG index);
// Adds a stream described by `info` to a file opened for writing, with a reference.
HRESULT AVIFileCreateStreamW(PAVIFILE file, PAVISTREAM* stream, const AVISTREAMINFOW* info);

// Whether a write, seek or close of this file has failed so far (1) or not (0). Once failed, a
// file stays failed and every later write reports AVIERR_FILEWRITE.
int AVIFileHasFailed(PAVIFILE file);
// The result of completing the most recent file opened for writing whose last reference was
// released: AVIERR_OK when every byte of it was written and closed, else AVIERR_FILEWRITE.
// AVIERR_OK when no such file has been completed yet.
HRESULT AVIFileLastCloseResult();

// Lowers the size at which a file being written starts a new RIFF list (default and maximum
// 1 GiB), for files created afterwards. 0 restores the default. Meant for tests.
void AVIFileSetRiffLimitForTests(uint64_t bytes);

ULONG AVIStreamAddRef(PAVISTREAM stream);
ULONG AVIStreamRelease(PAVISTREAM stream);

// Copies min(size, 204) bytes of the stream's header into `info`. dwLength is the sample count
// found in the index, dwSampleSize the size the samples are counted in (0: one per chunk).
HRESULT AVIStreamInfoW(PAVISTREAM stream, AVISTREAMINFOW* info, LONG size);

LONG AVIStreamStart(PAVISTREAM stream);
LONG AVIStreamLength(PAVISTREAM stream);

// With `format` null, stores the format's size in *formatSize. Otherwise copies up to
// *formatSize bytes and stores the number copied. A stream has one format; `pos` is not used.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* formatSize);
// Sets the format of a stream being written, before its first sample.
HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, const void* format, LONG size);

// Reads `samples` samples from `start` (clipped at the stream's end; AVISTREAMREAD_CONVENIENT:
// the rest of the chunk at `start`). With `buffer` null it only reports the byte and sample
// counts. Otherwise it copies as many whole samples as fit and fails with
// AVIERR_BUFFERTOOSMALL when not even one does. Reading at or after the end reads nothing.
// Counts are capped so the byte count fits in a LONG.
HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                      LONG* bytesRead, LONG* samplesRead);

// Appends `samples` samples at position `start` of a stream being written. Past the end of a
// stream with dwSampleSize 0 the gap is filled with empty, non-key samples; writing below the
// end is refused. With dwSampleSize 0, a write of several samples is stored as one chunk holding
// every byte followed by empty chunks, so no byte and no position is lost. With dwSampleSize
// > 0 the sample count is the byte count divided by dwSampleSize, and long writes are split
// into chunks of about a second (at most 1 MiB).
HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* data, LONG bytes,
                       DWORD flags, LONG* samplesWritten, LONG* bytesWritten);

// Extra header data of the stream's list ('strd' codec data, 'strn' name, or any other chunk
// found there). With `data` null, stores the size in *size; else copies up to *size bytes and
// stores the number copied. AVIERR_NODATA when the stream has no such chunk.
HRESULT AVIStreamReadData(PAVISTREAM stream, DWORD fcc, void* data, LONG* size);
// The ids of the stream's extra header chunks, in file order (one id may come more than once).
std::vector<DWORD> AVIStreamDataIds(PAVISTREAM stream);
// Sets extra header data of a stream being written: any chunk but those the writer makes itself
// ('strh', 'strf', 'strn' from the header's name, 'indx', padding and lists), which give
// AVIERR_UNSUPPORTED.
HRESULT AVIStreamWriteData(PAVISTREAM stream, DWORD fcc, const void* data, LONG size);

// The position of a sample near `pos` of the kind and direction that `flags` name
// (FIND_KEY/FIND_ANY/FIND_FORMAT with FIND_PREV/FIND_NEXT); -1 when there is none.
LONG AVIStreamFindSample(PAVISTREAM stream, LONG pos, LONG flags);
// The key frame at or before `pos`, or -1.
LONG AVIStreamNearestKeyFrame(PAVISTREAM stream, LONG pos);
// 1 when the sample at `pos` is a key frame, else 0.
int AVIStreamIsKeyFrame(PAVISTREAM stream, LONG pos);
// The byte size of the sample at `pos`.
HRESULT AVIStreamSampleSize(PAVISTREAM stream, LONG pos, LONG* size);

// The chunks of a stream as stored in the file, in order: where a fixed-size stream packs
// several samples into one chunk, this is the view other tools show as packets.
struct AVICHUNKINFO {
    uint64_t offset;   // file offset of the chunk's data
    DWORD size;        // bytes of data
    DWORD flags;       // AVIIF_KEYFRAME or 0
    LONG firstSample;  // position of the chunk's first sample
    LONG samples;      // samples in the chunk
};
LONG AVIStreamChunkCount(PAVISTREAM stream);
HRESULT AVIStreamChunkInfo(PAVISTREAM stream, LONG chunk, AVICHUNKINFO* info);
