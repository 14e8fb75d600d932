// Colour quantization: every component flattened by the non-local means
// filter, then the luma reduced to soft steps while the chroma is kept.
#include <algorithm>
#include <cmath>

#include "redraw.h"
#include "redraw_internal.h"

using namespace redraw_detail;

namespace {

// Step width q and softness phi of the levels that step (0, 1, 2).
struct SoftStepLevel {
    float step;
    float softness;
};
constexpr SoftStepLevel kSoftStepLevels[] = {{64.0f, 0.5f}, {51.0f, 0.3f}, {26.0f, 0.2f}};
constexpr int kSteppedLevels = 3;

struct SoftStepTable {
    uint8_t map[256];
};

SoftStepTable MakeSoftStepTable(int level) {
    SoftStepTable table;
    for (int x = 0; x < 256; ++x) table.map[x] = SoftStep(static_cast<uint8_t>(x), level);
    return table;
}

}  // namespace

// Each band of width q becomes a steep S-shaped ramp centred on the band's
// middle: values settle near the multiples of q and jump between them.
uint8_t SoftStep(uint8_t x, int level) {
    if (level < 0 || level >= kSteppedLevels) return x;
    const float q = kSoftStepLevels[level].step;
    const float phi = kSoftStepLevels[level].softness;
    const float value = x;
    const float band = std::floor(value / q);
    const float centre = (band + 0.5f) * q;
    const float u = std::tanh((centre - value) * phi);
    const float y = centre - u * (q * 0.5f);
    const double rounded = static_cast<double>(y) + 0.5;
    if (!(rounded > 0.0)) return 0;
    if (!(rounded < 255.0)) return 255;
    return static_cast<uint8_t>(rounded);
}

void QuantizeColors(SBxPicBuf& picture, int level) {
    if (level < 0 || level > RedrawLevelSmoothed) return;
    if (!HasSamples(picture) || picture.bitsPerComponent != 8 ||
        (picture.components != 1 && picture.components != 3))
        return;

    if (picture.components == 1) {
        PicBufHolder copy;
        AllocatePictureLike(copy.buf, picture);
        Require(CBxPicBufAPI::Copy(copy.buf, picture));
        SmoothPlane(picture, copy.buf, kQuantizeStrength);
    } else {
        PicBufHolder component, smoothed;
        for (int c = 0; c < 3; ++c) {
            Require(CBxPicBufAPI::ExtractComponent(component.buf, c, picture));
            SmoothPlane(smoothed.buf, component.buf, kQuantizeStrength);
            Require(CBxPicBufAPI::InsertComponent(picture, c, smoothed.buf));
        }
    }
    if (level == RedrawLevelSmoothed) return;

    const SoftStepTable table = MakeSoftStepTable(level);
    if (picture.components == 1) {
        for (int y = 0; y < picture.height; ++y) {
            uint8_t* row = PicRow(picture, y);
            for (int x = 0; x < picture.width; ++x) row[x] = table.map[row[x]];
        }
        return;
    }
    // Only the luma is stepped, so the colours keep their hue.
    PicBufHolder lumaChroma;
    Require(CBxPicBufAPI::ConvertRGBtoYUV(lumaChroma.buf, picture));
    const SBxPicBuf& yc = lumaChroma.buf;
    for (int y = 0; y < yc.height; ++y) {
        if (yc.bitsPerComponent == 8) {
            uint8_t* row = PicRow(yc, y);
            for (int x = 0; x < yc.width; ++x) row[3 * x] = table.map[row[3 * x]];
        } else {
            // The library keeps luma x 256 at 16 bits: step the 8-bit luma it stands for.
            uint16_t* row = reinterpret_cast<uint16_t*>(PicRow(yc, y));
            for (int x = 0; x < yc.width; ++x) {
                const int luma = std::min(255, (row[3 * x] + 128) >> 8);
                row[3 * x] = static_cast<uint16_t>(table.map[luma] << 8);
            }
        }
    }
    Require(CBxPicBufAPI::ConvertYUVtoRGB(picture, lumaChroma.buf));
}
