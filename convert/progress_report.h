// How reframe-convert tells of its work: a progress line on a terminal (stream, percent,
// frames per second, time left), one JSON object per line for other programs, or nothing.
// Failures always go to standard error as one line each, whatever the style.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "convert/convert_options.h"
#include "support/unicode_text.h"

class ProgressReport {
  public:
    // `style` is Bar, Json or None (Auto resolved by the caller).
    ProgressReport(ProgressStyle style, std::string source);
    // From the stream converter: the stream, how far it has got, its length.
    void Stream(int32_t type, int32_t index, int32_t current, int32_t total);
    void Compressing(int32_t percent);
    void Done(const std::string& destination);
    void Failed(const std::string& reason);
    // A warning about a file that still counts as converted or failed by the caller.
    void Warn(const std::string& message);

  private:
    bool Due(bool force);
    void ClearBar();
    ProgressStyle style_;
    std::string source_;
    std::chrono::steady_clock::time_point streamStart_, lastShown_;
    int32_t streamIndex_ = -1;
    int32_t firstPosition_ = 0;
    bool barShown_ = false;
};

// JSON string text for UTF-8 bytes, quotes included; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);
