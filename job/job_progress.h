// What a running job tells its program and asks of it: the window's progress display and
// reframe-convert's progress report both implement this.
#pragma once

#include <cstdint>

class JobProgress {
  public:
    virtual ~JobProgress() = default;
    // From the stream converter: the stream's type code and index, how far it has got and
    // its length.
    virtual void Stream(int32_t type, int32_t index, int32_t current, int32_t total) = 0;
    // The compressor has started, as process `processId`.
    virtual void CompressorStarted(uint32_t processId) { (void)processId; }
    // Each progress line of the compressor: the percentage it gives.
    virtual void Compressing(int32_t percent) = 0;
    // Asked between looks at the compressor: true ends it, and the result stays uncompressed.
    virtual bool StopAsked() { return false; }
    // The compressor has ended (or was ended), before its copy is looked at.
    virtual void CompressorEnded(bool stopped) { (void)stopped; }
};
