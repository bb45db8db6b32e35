#include "render/Blur.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace orvix {

namespace {

// Widths of three box filters whose succession matches a Gaussian of sigma.
std::array<int, 3> boxWidths(qreal sigma) {
    const qreal ideal = std::sqrt(12.0 * sigma * sigma / 3.0 + 1.0);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const qreal m =
        (12.0 * sigma * sigma - 3.0 * lower * lower - 12.0 * lower - 9.0) / (-4.0 * lower - 4.0);
    const int smaller = static_cast<int>(std::lround(m));
    std::array<int, 3> widths{};
    for (int i = 0; i < 3; ++i)
        widths[i] = i < smaller ? lower : upper;
    return widths;
}

// One box pass of radius r down the columns of a buffer, row by row: every
// column keeps its running sum, so memory is read in rows and the inner loops
// vectorise. Outside the buffer reads as zero, so a shadow fades out at the
// image's edge instead of smearing.
void verticalPass(uint8_t* bits, size_t bpl, size_t rowBytes, int h, int r,
                  std::vector<uint32_t>& sumBuffer, std::vector<uint8_t>& outBuffer) {
    const uint32_t width = static_cast<uint32_t>(2 * r + 1);
    // sum * scale >> 16 divides by the width, rounded; sums stay below
    // 255 * width, so the product fits 32 bits and the loops vectorise.
    const uint32_t scale = ((1u << 16) + width / 2) / width;
    uint32_t* __restrict sums = sumBuffer.data();
    auto row = [&](int y) -> const uint8_t* {
        return bits + static_cast<size_t>(y) * bpl;
    };
    std::fill_n(sums, rowBytes, 0u);
    for (int y = 0; y <= r && y < h; ++y) {
        const uint8_t* __restrict in = row(y);
        for (size_t i = 0; i < rowBytes; ++i)
            sums[i] += in[i];
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* __restrict dst = outBuffer.data() + static_cast<size_t>(y) * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i) {
            const uint32_t v = (sums[i] * scale + (1u << 15)) >> 16;
            dst[i] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
        if (y + r + 1 < h) {
            const uint8_t* __restrict in = row(y + r + 1);
            for (size_t i = 0; i < rowBytes; ++i)
                sums[i] += in[i];
        }
        if (y - r >= 0) {
            const uint8_t* __restrict gone = row(y - r);
            for (size_t i = 0; i < rowBytes; ++i)
                sums[i] -= gone[i];
        }
    }
    for (int y = 0; y < h; ++y)
        std::copy_n(outBuffer.data() + static_cast<size_t>(y) * rowBytes, rowBytes,
                    bits + static_cast<size_t>(y) * bpl);
}

// Copies a w x h image of Pixel values into h x w, tightly packed.
template <typename Pixel>
void transpose(const uint8_t* src, size_t srcBpl, int w, int h, uint8_t* dst, size_t dstBpl) {
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const Pixel*>(src + static_cast<size_t>(y) * srcBpl);
        for (int x = 0; x < w; ++x)
            reinterpret_cast<Pixel*>(dst + static_cast<size_t>(x) * dstBpl)[y] = in[x];
    }
}

void transpose(const uint8_t* src, size_t srcBpl, int w, int h, int pixelBytes, uint8_t* dst,
               size_t dstBpl) {
    if (pixelBytes == 1)
        transpose<uint8_t>(src, srcBpl, w, h, dst, dstBpl);
    else
        transpose<uint32_t>(src, srcBpl, w, h, dst, dstBpl);
}

} // namespace

void blurImage(QImage& image, qreal sigma) {
    if (sigma <= 0 || image.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied &&
        image.format() != QImage::Format_Alpha8)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int channels = image.format() == QImage::Format_Alpha8 ? 1 : 4;
    const int w = image.width();
    const int h = image.height();
    const size_t bpl = static_cast<size_t>(image.bytesPerLine());
    const size_t rowBytes = static_cast<size_t>(w) * channels;
    const size_t columnBytes = static_cast<size_t>(h) * channels;
    std::array<int, 3> radii{};
    const auto widths = boxWidths(sigma);
    std::transform(widths.begin(), widths.end(), radii.begin(), [](int b) { return (b - 1) / 2; });

    std::vector<uint32_t> sums(std::max(rowBytes, columnBytes));
    std::vector<uint8_t> out(rowBytes * static_cast<size_t>(h));
    // Across the rows: blur the columns of the transposed image.
    std::vector<uint8_t> turned(columnBytes * static_cast<size_t>(w));
    transpose(image.constBits(), bpl, w, h, channels, turned.data(), columnBytes);
    for (int r : radii)
        if (r > 0)
            verticalPass(turned.data(), columnBytes, columnBytes, w, r, sums, out);
    transpose(turned.data(), columnBytes, h, w, channels, image.bits(), bpl);
    // Down the columns.
    for (int r : radii)
        if (r > 0)
            verticalPass(image.bits(), bpl, rowBytes, h, r, sums, out);
}

} // namespace orvix
