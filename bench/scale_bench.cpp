// Frame scaler speed against two widely used scalers, libswscale and libyuv, on 24-bit BGR
// frames of common sizes, single-threaded. Prints a table of speed ratios at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <libyuv/scale_rgb.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include "avi/frame_scaler.h"

namespace {

struct Size {
    int width, height;
};

struct Case {
    Size from, to;
    std::string Name() const {
        return std::to_string(from.width) + "x" + std::to_string(from.height) + "->" +
               std::to_string(to.width) + "x" + std::to_string(to.height);
    }
};

const Case kCases[] = {
    {{1920, 1080}, {1280, 720}}, {{640, 480}, {320, 240}}, {{640, 480}, {1280, 960}}};

int Stride(int width) {
    return (3 * width + 3) / 4 * 4;
}

// A picture with smooth gradients and some noise, so no scaler meets only flat runs.
std::vector<uint8_t> MakeFrame(Size s) {
    std::vector<uint8_t> frame(static_cast<size_t>(Stride(s.width)) * s.height);
    std::mt19937 random(7);
    for (int y = 0; y < s.height; ++y) {
        for (int x = 0; x < s.width; ++x) {
            uint8_t* p = &frame[static_cast<size_t>(y) * Stride(s.width) + 3 * x];
            p[0] = static_cast<uint8_t>(x + (random() & 15));
            p[1] = static_cast<uint8_t>(y + (random() & 15));
            p[2] = static_cast<uint8_t>((x + y) / 2 + (random() & 15));
        }
    }
    return frame;
}

BITMAPINFOHEADER Header(Size s) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = s.width;
    h.biHeight = s.height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<uint32_t>(Stride(s.width) * s.height);
    return h;
}

void Reframe(benchmark::State& state, Case c, int32_t antiAlias) {
    const auto in = MakeFrame(c.from);
    const BITMAPINFOHEADER source = Header(c.from), destination = Header(c.to);
    std::vector<uint8_t> out(destination.biSizeImage);
    for (auto _ : state) {
        ScaleFrame(in.data(), out.data(), &source, &destination, antiAlias);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void Swscale(benchmark::State& state, Case c, int flags) {
    const auto in = MakeFrame(c.from);
    std::vector<uint8_t> out(static_cast<size_t>(Stride(c.to.width)) * c.to.height);
    SwsContext* context =
        sws_getContext(c.from.width, c.from.height, AV_PIX_FMT_BGR24, c.to.width, c.to.height,
                       AV_PIX_FMT_BGR24, flags, nullptr, nullptr, nullptr);
    if (!context) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    const uint8_t* const planes[] = {in.data()};
    const int strides[] = {Stride(c.from.width)};
    uint8_t* const outPlanes[] = {out.data()};
    const int outStrides[] = {Stride(c.to.width)};
    for (auto _ : state) {
        sws_scale(context, planes, strides, 0, c.from.height, outPlanes, outStrides);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    sws_freeContext(context);
}

void Libyuv(benchmark::State& state, Case c, libyuv::FilterMode filter) {
    const auto in = MakeFrame(c.from);
    std::vector<uint8_t> out(static_cast<size_t>(Stride(c.to.width)) * c.to.height);
    for (auto _ : state) {
        libyuv::RGBScale(in.data(), Stride(c.from.width), c.from.width, c.from.height, out.data(),
                         Stride(c.to.width), c.to.width, c.to.height, filter);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

// Collects each benchmark's time per frame (the median when repeated) for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> seconds;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            std::string name = run.benchmark_name();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
                name = name.substr(0, name.rfind('_'));
            } else if (run.repetitions > 1) {
                continue;
            }
            seconds[name] =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const struct {
        const char* mode;
        int32_t antiAlias;
        int swsFlags;
        const char* swsName;
        libyuv::FilterMode yuvFilter;
        const char* yuvName;
    } modes[] = {
        {"nearest", 0, SWS_POINT, "SWS_POINT", libyuv::kFilterNone, "kFilterNone"},
        {"area", 8, SWS_AREA, "SWS_AREA", libyuv::kFilterBox, "kFilterBox"},
        {"bilinear", 8, SWS_BILINEAR, "SWS_BILINEAR", libyuv::kFilterBilinear, "kFilterBilinear"},
    };
    for (const Case& c : kCases) {
        const bool enlarges = c.to.width > c.from.width;
        for (const auto& m : modes) {
            // Averaging shrinks by area and enlarges bilinearly: compare each with its own kind.
            const std::string mode = m.mode;
            if (mode == "area" && enlarges) continue;
            if (mode == "bilinear" && !enlarges) continue;
            const std::string base = mode + "/" + c.Name() + "/";
            benchmark::RegisterBenchmark((base + "reframe").c_str(), Reframe, c, m.antiAlias);
            benchmark::RegisterBenchmark((base + "swscale_" + m.swsName).c_str(), Swscale, c,
                                         m.swsFlags);
            if (mode == "bilinear") {
                benchmark::RegisterBenchmark((base + "swscale_SWS_FAST_BILINEAR").c_str(), Swscale,
                                             c, SWS_FAST_BILINEAR);
            }
            benchmark::RegisterBenchmark((base + "libyuv_" + m.yuvName).c_str(), Libyuv, c,
                                         m.yuvFilter);
        }
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Ratio = peer's time / our time: above 1 means ScaleFrame is faster.
    std::printf("\n| Scale | Mode | ScaleFrame (ms) | Peer | Peer (ms) | Ratio |\n");
    std::printf("|---|---|---:|---|---:|---:|\n");
    for (const auto& [name, ours] : reporter.seconds) {
        const auto slash = name.rfind('/');
        if (name.substr(slash + 1) != "reframe") continue;
        const std::string prefix = name.substr(0, slash + 1);
        const std::string mode = name.substr(0, name.find('/'));
        const std::string scale = prefix.substr(mode.size() + 1, prefix.size() - mode.size() - 2);
        for (const auto& [peer, theirs] : reporter.seconds) {
            if (peer.compare(0, prefix.size(), prefix) != 0 || peer == name) continue;
            std::printf("| %s | %s | %.3f | %s | %.3f | %.1fx |\n", scale.c_str(), mode.c_str(),
                        ours * 1e3, peer.substr(prefix.size()).c_str(), theirs * 1e3,
                        theirs / ours);
        }
    }
    return 0;
}
