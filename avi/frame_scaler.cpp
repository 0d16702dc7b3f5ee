// ScaleFrame: checks the two frame headers, then copies or stretches the rows with the
// kernels in force and clears each destination row's padding.
#include "avi/frame_scaler.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "avi/scale_job.h"
#include "avi/scale_rows.h"

namespace {

std::atomic<int> selectedKernels{SCALE_KERNELS_BEST};

int BestKernels() {
#if defined(REFRAME_SCALE_X86)
    return CpuHasAvx2() ? SCALE_KERNELS_AVX2 : SCALE_KERNELS_SSE2;
#else
    return SCALE_KERNELS_PORTABLE;
#endif
}

// Bytes in one stored row of a 24-bit bitmap: 3 per pixel, rounded up to a multiple of 4.
int64_t RowBytes(int64_t width) {
    return (3 * width + 3) / 4 * 4;
}

bool Servable(const BITMAPINFOHEADER& h) {
    return h.biBitCount == 24 && h.biCompression == BI_RGB && h.biWidth > 0 && h.biHeight > 0 &&
           h.biWidth <= SCALE_MAX_DIMENSION && h.biHeight <= SCALE_MAX_DIMENSION;
}

}  // namespace

int SetScaleKernels(int kernels) {
    const int best = BestKernels();
    int level = kernels < SCALE_KERNELS_REFERENCE ? SCALE_KERNELS_REFERENCE : kernels;
    if (level > best) level = best;
    selectedKernels.store(level);
    return level;
}

int GetScaleKernels() {
    const int level = selectedKernels.load();
    const int best = BestKernels();
    return level > best ? best : level;
}

int ScaleFrame(const uint8_t* pixels, uint8_t* output, const BITMAPINFOHEADER* sourceHeader,
               const BITMAPINFOHEADER* destinationHeader, int32_t antiAlias) {
    return ScaleFrameRows(pixels, output, sourceHeader, destinationHeader, antiAlias, 0,
                          SCALE_MAX_DIMENSION);
}

int ScaleFrameRows(const uint8_t* pixels, uint8_t* output, const BITMAPINFOHEADER* sourceHeader,
                   const BITMAPINFOHEADER* destinationHeader, int32_t antiAlias, int32_t firstRow,
                   int32_t endRow) {
    if (!pixels || !output || !sourceHeader || !destinationHeader) return 0;
    if (!Servable(*sourceHeader) || !Servable(*destinationHeader)) return 0;

    // Each dimension is at most 2^24, so these products stay far inside 64 bits.
    const int64_t sourceStride = RowBytes(sourceHeader->biWidth);
    const int64_t destinationStride = RowBytes(destinationHeader->biWidth);
    const int64_t destinationBytes = destinationStride * destinationHeader->biHeight;
    // The caller's buffer is only known to hold biSizeImage bytes.
    if (destinationBytes > static_cast<int64_t>(destinationHeader->biSizeImage)) return 0;

    const ScaleJob job{pixels,
                       static_cast<ptrdiff_t>(sourceStride),
                       sourceHeader->biWidth,
                       sourceHeader->biHeight,
                       output,
                       static_cast<ptrdiff_t>(destinationStride),
                       destinationHeader->biWidth,
                       destinationHeader->biHeight,
                       antiAlias != 0,
                       std::max(firstRow, 0),
                       std::min(endRow, destinationHeader->biHeight)};
    if (job.firstRow >= job.endRow) return 0;
    const size_t pixelBytes = 3 * static_cast<size_t>(job.destinationWidth);

    if (job.sourceWidth == job.destinationWidth && job.sourceHeight == job.destinationHeight) {
        for (int32_t y = job.firstRow; y < job.endRow; ++y) {
            std::memcpy(output + y * job.destinationStride, pixels + y * job.sourceStride,
                        pixelBytes);
        }
    } else if (GetScaleKernels() == SCALE_KERNELS_REFERENCE) {
        try {
            ScaleImageReference(job);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    } else if (!ScaleImageFast(job, GetScaleKernels())) {
        return 0;
    }

    const size_t padding = static_cast<size_t>(destinationStride) - pixelBytes;
    if (padding != 0) {
        for (int32_t y = job.firstRow; y < job.endRow; ++y) {
            std::memset(output + y * job.destinationStride + pixelBytes, 0, padding);
        }
    }
    return 0;
}
