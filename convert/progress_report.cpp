#include "convert/progress_report.h"

#include <cmath>
#include <cstdio>

#include "avifile/avi_types.h"
#include "support/unicode_text.h"

namespace {

constexpr auto SHOW_INTERVAL = std::chrono::milliseconds(100);

const char* KindOf(int32_t type) {
    const auto code = static_cast<DWORD>(type);
    return code == streamtypeVIDEO ? "video" : code == streamtypeAUDIO ? "audio" : "other";
}

std::string Clock(double seconds) {
    if (!(seconds >= 0) || seconds > 359999) return "--:--";
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

std::string JsonString(const std::string& text) {
    // Through UTF-16 and back, so that the bytes written are always valid UTF-8.
    const std::string clean = ToUtf8(FromUtf8(text));
    std::string out = "\"";
    for (unsigned char c : clean) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

ProgressReport::ProgressReport(ProgressStyle style, std::string source)
    : style_(style), source_(std::move(source)) {}

bool ProgressReport::Due(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastShown_ < SHOW_INTERVAL) return false;
    lastShown_ = now;
    return true;
}

void ProgressReport::ClearBar() {
    if (barShown_) std::fputs("\r\033[K", stderr);
    barShown_ = false;
}

void ProgressReport::Stream(int32_t type, int32_t index, int32_t current, int32_t total) {
    if (style_ == ProgressStyle::None) return;
    const auto now = std::chrono::steady_clock::now();
    if (index != streamIndex_) {
        streamIndex_ = index;
        streamStart_ = now;
        firstPosition_ = current;
    }
    const bool edge = current == firstPosition_ || current >= total;
    if (!Due(edge)) return;
    const double seconds = std::chrono::duration<double>(now - streamStart_).count();
    const int32_t done = current - firstPosition_;
    const double fps = seconds > 0 ? done / seconds : 0.0;
    const double left = fps > 0 ? (total - current) / fps : -1.0;
    const int percent = total > 0 ? static_cast<int>(100.0 * current / total) : 100;
    const bool video = static_cast<DWORD>(type) == streamtypeVIDEO;
    if (style_ == ProgressStyle::Json) {
        std::printf(
            "{\"event\":\"progress\",\"file\":%s,\"stage\":\"convert\",\"stream\":%d,"
            "\"type\":\"%s\",\"current\":%d,\"total\":%d,\"percent\":%d",
            JsonString(source_).c_str(), index, KindOf(type), current, total, percent);
        if (video) std::printf(",\"fps\":%.1f,\"seconds_left\":%.1f", fps, left < 0 ? 0.0 : left);
        std::puts("}");
        std::fflush(stdout);
        return;
    }
    std::fprintf(stderr, "\r%s: stream #%d (%s) %3d%%", QuotedName(source_).c_str(), index,
                 KindOf(type), percent);
    if (video) std::fprintf(stderr, "  %.1f fps  %s left", fps, Clock(left).c_str());
    std::fputs("\033[K", stderr);
    barShown_ = true;
}

void ProgressReport::Compressing(int32_t percent) {
    if (style_ == ProgressStyle::None || !Due(percent >= 100)) return;
    if (style_ == ProgressStyle::Json) {
        std::printf("{\"event\":\"progress\",\"file\":%s,\"stage\":\"compress\",\"percent\":%d}\n",
                    JsonString(source_).c_str(), percent);
        std::fflush(stdout);
        return;
    }
    std::fprintf(stderr, "\r%s: compressing %3d%%\033[K", QuotedName(source_).c_str(), percent);
    barShown_ = true;
}

void ProgressReport::Done(const std::string& destination) {
    if (style_ == ProgressStyle::Json) {
        std::printf("{\"event\":\"done\",\"file\":%s,\"destination\":%s}\n",
                    JsonString(source_).c_str(), JsonString(destination).c_str());
        std::fflush(stdout);
    } else if (style_ == ProgressStyle::Bar) {
        ClearBar();
        std::fprintf(stderr, "%s -> %s\n", QuotedName(source_).c_str(),
                     QuotedName(destination).c_str());
    }
}

void ProgressReport::Failed(const std::string& reason) {
    ClearBar();
    std::fprintf(stderr, "reframe-convert: %s: %s\n", QuotedName(source_).c_str(), reason.c_str());
    if (style_ == ProgressStyle::Json) {
        std::printf("{\"event\":\"failed\",\"file\":%s,\"reason\":%s}\n",
                    JsonString(source_).c_str(), JsonString(reason).c_str());
        std::fflush(stdout);
    }
}

void ProgressReport::Warn(const std::string& message) {
    ClearBar();
    std::fprintf(stderr, "reframe-convert: %s: %s\n", QuotedName(source_).c_str(), message.c_str());
}
