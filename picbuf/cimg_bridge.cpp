#include "cimg_bridge.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "processor.h"

namespace {

bool Usable(const SBxPicBuf& buf) {
    return buf.pixels && buf.width > 0 && buf.height > 0 && buf.components > 0 &&
           BytesPerSample(buf.bitsPerComponent) > 0;
}

// Samples of picture (interleaved components) into the planes of image.
template <typename Sample>
void ReadSamples(const SBxPicBuf& picture, CImgF& image) {
    const int components = picture.components;
    for (int c = 0; c < components; ++c) {
        for (int y = 0; y < picture.height; ++y) {
            const Sample* row = reinterpret_cast<const Sample*>(PicRow(picture, y)) + c;
            float* out = image.data(0, y, 0, c);
            for (int x = 0; x < picture.width; ++x) out[x] = static_cast<float>(row[x * components]);
        }
    }
}

// A float sample as an integer sample: truncation toward zero, then the low
// bits of the integer (what a plain float-to-integer cast does on the
// machines this runs on, without its undefined behaviour out of range).
template <typename Sample>
Sample TruncateSample(float value) {
    constexpr float kInt64Limit = 9.2e18f;
    if (!(std::fabs(value) < kInt64Limit)) return 0;  // also NaN
    return static_cast<Sample>(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

template <>
float TruncateSample<float>(float value) {
    return value;
}

template <typename Sample>
void WriteSamples(const CImgF& image, SBxPicBuf& picture) {
    const int components = picture.components;
    for (int c = 0; c < components; ++c) {
        for (int y = 0; y < picture.height; ++y) {
            Sample* row = reinterpret_cast<Sample*>(PicRow(picture, y)) + c;
            const float* in = image.data(0, y, 0, c);
            for (int x = 0; x < picture.width; ++x) row[x * components] = TruncateSample<Sample>(in[x]);
        }
    }
}

CImgF ImportSamples(const SBxPicBuf& picture) {
    if (!Usable(picture)) return CImgF();
    CImgF image(picture.width, picture.height, 1, picture.components);
    if (picture.bitsPerComponent == 8) ReadSamples<uint8_t>(picture, image);
    else if (picture.bitsPerComponent == 32) ReadSamples<float>(picture, image);
    else ReadSamples<uint16_t>(picture, image);
    return image;
}

void ExportSamples(const CImgF& image, SBxPicBuf& picture) {
    if (!Usable(picture) || image.width() != picture.width || image.height() != picture.height ||
        image.depth() != 1 || image.spectrum() != picture.components)
        return;
    if (picture.bitsPerComponent == 8) WriteSamples<uint8_t>(image, picture);
    else if (picture.bitsPerComponent == 32) WriteSamples<float>(image, picture);
    else WriteSamples<uint16_t>(image, picture);
}

// Structure tensors of every channel summed in channel order. CImg's own
// parallel version adds the channels with atomic updates in whatever order
// the threads finish, which changes the last bits from run to run.
CImgF StructureTensors(const CImgF& image) {
    if (image.spectrum() == 1) return image.get_structure_tensors();
    CImgF sum;
    for (int c = 0; c < image.spectrum(); ++c) {
        if (AbortPolled()) break;
        CImgF channel = image.get_shared_channel(c).get_structure_tensors();
        if (sum.is_empty()) channel.move_to(sum);
        else sum += channel;
    }
    return sum;
}

}  // namespace

bool MakeGuidePlane(SBxPicBuf& guide, const SBxPicBuf& picture) {
    if (!Usable(picture)) return false;
    const int depth = picture.bitsPerComponent == 8 ? 8 : 16;
    return CBxPicBufAPI::ReinitHeap(guide, picture) && guide.pixels && CBxPicBufAPI::Copy(guide, picture) &&
           CBxPicBufAPI::ConvertBpcComp(guide, depth, 1) && guide.pixels;
}

CImgF ImportPlane(const SBxPicBuf& plane) {
    if (plane.components != 1) return CImgF();
    return ImportSamples(plane);
}

void ExportPlane(const CImgF& image, SBxPicBuf& plane) {
    if (plane.components != 1) return;
    ExportSamples(image, plane);
}

CImgF ImportPicture(const SBxPicBuf& picture) {
    return ImportSamples(picture);
}

void ExportPicture(const CImgF& image, SBxPicBuf& picture) {
    ExportSamples(image, picture);
}

// CImg's symmetric_eigen of the 2 x 2 tensor (a b; b c), expression by
// expression, without the two small images it and get_tensor_at allocate:
// once per pixel, from every thread, that was a lock of the Windows heap
// per pixel. (vx, vy) is the eigenvector of the larger eigenvalue; the other
// one is (-vy, vx).
struct TensorEigen2 {
    float larger, smaller, vx, vy;
};

inline TensorEigen2 SymmetricEigen2(float tensorA, float tensorB, float tensorC) {
    const double a = tensorA, b = tensorB, c = tensorB, d = tensorC, e = a + d,
                 f = std::sqrt(std::max(e * e - 4 * (a * d - b * c), 0.0)), l1 = 0.5 * (e - f), l2 = 0.5 * (e + f),
                 n = std::sqrt(cimg_library::cimg::sqr(l2 - a) + b * b);
    TensorEigen2 eigen{(float)l2, (float)l1, 1, 0};
    if (n > 0) {
        eigen.vx = (float)(b / n);
        eigen.vy = (float)((l2 - a) / n);
    }
    return eigen;
}

// CImg's diffusion_tensors (2-D, square-root form, anisotropy 1) pass by
// pass, with abort polls CImg does not have there. Each step calls the same
// CImg operations or repeats its arithmetic expression by expression, so the
// field is bit for bit CImg's (the tests compare the two).
CImgF ComputeDiffusionTensors(const CImgF& image, float sharpness, float alpha, float sigma) {
    const float anisotropy = 1.0f;
    if (image.is_empty()) return CImgF();
    if (image.depth() > 1) return image.get_diffusion_tensors(sharpness, anisotropy, alpha, sigma, true);

    const float nsharpness = std::max(sharpness, 1e-5f);
    const float power1 = 0.5f * nsharpness;
    const float power2 = power1 / (1e-7f + 1 - anisotropy);

    CImgF field;
    {
        CImgF smoothed(image, false);
        smoothed.blur(alpha).normalize(0, 255.0f);
        if (AbortPolled()) return field;
        StructureTensors(smoothed).move_to(field);
    }
    if (AbortPolled()) return field;
    field.blur(sigma);
    if (AbortPolled()) return field;

    const int width = field.width(), height = field.height();
#pragma omp parallel for if (width >= 256 && height >= 256)
    for (int y = 0; y < height; ++y) {
        if (AbortPolled()) continue;  // the remaining rows stay unfinished
        float *ptrd0 = field.data(0, y, 0, 0), *ptrd1 = field.data(0, y, 0, 1), *ptrd2 = field.data(0, y, 0, 2);
        for (int x = 0; x < width; ++x) {
            const TensorEigen2 e = SymmetricEigen2(*ptrd0, *ptrd1, *ptrd2);
            const float _l1 = e.smaller, _l2 = e.larger, l1 = _l1 > 0 ? _l1 : 0, l2 = _l2 > 0 ? _l2 : 0,
                        ux = -e.vy, uy = e.vx, vx = e.vx, vy = e.vy,
                        n1 = (float)std::pow(1 + l1 + l2, -power1), n2 = (float)std::pow(1 + l1 + l2, -power2);
            *(ptrd0++) = n1 * ux * ux + n2 * vx * vx;
            *(ptrd1++) = n1 * ux * uy + n2 * vx * vy;
            *(ptrd2++) = n1 * uy * uy + n2 * vy * vy;
        }
    }
    return field;
}

CImgF ComputeDiffusionTensors(const SBxPicBuf& plane, float sharpness, float alpha, float sigma) {
    CImgF image = ImportPlane(plane);
    if (AbortPolled()) return CImgF();
    return ComputeDiffusionTensors(image, sharpness, alpha, sigma);
}

void SmoothAlongTensors(CImgF& image, const CImgF& field) {
    if (AbortPolled()) return;
    if (image.depth() == 1) {
        // The program's own tracing gives CImg's samples to the bit, faster,
        // and leaves an aborted image as it was.
        SmoothAlongTensorsInside(image, field, CBxRect{0, 0, image.width(), image.height()});
        return;
    }
    try {
        image.blur_anisotropic(field, 200.0f, 0.8f, 30.0f, 2.0f, 0, true);
    } catch (const cimg_library::CImgAbortException&) {
        // Stopped between directions or rows; the caller sees the flag.
    }
}

namespace {

// The smoothing's fixed constants, as SmoothAlongTensors hands them to CImg.
constexpr float kAmplitude = 200.0f, kDl = 0.8f, kDa = 30.0f, kGaussPrec = 2.0f;

// One row of CImg's 2-D line-integral smoothing (nearest neighbour, fast
// approximation) for one direction, with every expression as CImg writes it
// so that the sums are the same to the bit. Channels is the image's channel
// count, or 0 when only known at run time.
//
// Each streamline is a chain of dependent steps (position, then the field
// there, then the next position), so a row traces kLanes neighbouring
// pixels' streamlines side by side, one step of each in turn, for the
// processor to overlap; each pixel still adds up its own samples in its
// own order.
template <int Channels>
void TraceRow(int y, int left, int right, int width, int height, int channels, const float* cells,
              const float* norms, float sqrt2amplitude, float* sums) {
    constexpr int kLanes = 8;
    constexpr int kFixed = Channels ? Channels : 1;
    const int count = Channels ? Channels : channels;
    const int stride = 2 + count;
    const int dx1 = width - 1, dy1 = height - 1;
    std::vector<float> dynamicVal(Channels ? 0 : static_cast<size_t>(count) * kLanes);
    float fixedVal[kLanes][kFixed];
    float X[kLanes], Y[kLanes], l[kLanes], length[kLanes], S[kLanes];
    bool active[kLanes];
    auto Val = [&](int lane) { return Channels ? fixedVal[lane] : dynamicVal.data() + lane * count; };
    auto Inside = [&](int k) { return l[k] < length[k] && X[k] >= 0 && X[k] <= dx1 && Y[k] >= 0 && Y[k] <= dy1; };

    for (int x0 = left; x0 < right; x0 += kLanes) {
        const int lanes = std::min(kLanes, right - x0);
        int running = 0;
        for (int k = 0; k < lanes; ++k) {
            float* val = Val(k);
            for (int c = 0; c < count; ++c) val[c] = 0;
            const float n = norms[static_cast<size_t>(y) * width + x0 + k], fsigma = (float)(n * sqrt2amplitude);
            length[k] = kGaussPrec * fsigma;
            S[k] = 0, X[k] = (float)(x0 + k), Y[k] = (float)y, l[k] = 0;
            active[k] = Inside(k);
            running += active[k];
        }
        while (running > 0) {
            for (int k = 0; k < lanes; ++k) {
                if (!active[k]) continue;
                const int cx = (int)(X[k] + 0.5f), cy = (int)(Y[k] + 0.5f);
                const float* cell = cells + (static_cast<size_t>(cy) * width + cx) * stride;
                const float u = cell[0], v = cell[1];
                const float* sample = cell + 2;
                float* val = Val(k);
                for (int c = 0; c < count; ++c) val[c] += sample[c];
                ++S[k];
                X[k] += u;
                Y[k] += v;
                l[k] += kDl;
                if (!Inside(k)) active[k] = false, --running;
            }
        }
        for (int k = 0; k < lanes; ++k, sums += count) {
            const float* val = Val(k);
            if (S[k] > 0)
                for (int c = 0; c < count; ++c) sums[c] += val[c] / S[k];
            else
                for (int c = 0; c < count; ++c)
                    sums[c] += cells[(static_cast<size_t>(y) * width + x0 + k) * stride + 2 + c];
        }
    }
}

// The lanes whose streamline goes on: l < length and (X, Y) on the picture.
__attribute__((target("avx2"), always_inline)) inline __m256 StillInside(__m256 X, __m256 Y, __m256 l, __m256 length,
                                                                        __m256 lastX, __m256 lastY) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 alongX = _mm256_and_ps(_mm256_cmp_ps(X, zero, _CMP_GE_OQ), _mm256_cmp_ps(X, lastX, _CMP_LE_OQ));
    const __m256 alongY = _mm256_and_ps(_mm256_cmp_ps(Y, zero, _CMP_GE_OQ), _mm256_cmp_ps(Y, lastY, _CMP_LE_OQ));
    return _mm256_and_ps(_mm256_cmp_ps(l, length, _CMP_LT_OQ), _mm256_and_ps(alongX, alongY));
}

// TraceRow for a known channel count with the eight lanes in AVX2
// registers: one instruction steps every streamline still running, the
// field and samples gathered from each lane's own cell; a finished lane is
// masked and keeps its values. Each lane makes the same single-precision
// operations in the same order as above, so the sums are the same bits.
template <int Channels>
__attribute__((target("avx2"))) void TraceRowAvx2(int y, int left, int right, int width, int height,
                                                  const float* cells, const float* norms, float sqrt2amplitude,
                                                  float* sums) {
    constexpr int kLanes = 8, kStride = 2 + Channels;
    const __m256 lastX = _mm256_set1_ps(static_cast<float>(width - 1)),
                 lastY = _mm256_set1_ps(static_cast<float>(height - 1)), zero = _mm256_setzero_ps(),
                 half = _mm256_set1_ps(0.5f), one = _mm256_set1_ps(1.0f), step = _mm256_set1_ps(kDl);
    const __m256i laneOffsets = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i rowCells = _mm256_set1_epi32(width), cellFloats = _mm256_set1_epi32(kStride);
    for (int x0 = left; x0 < right; x0 += kLanes) {
        const int lanes = std::min(kLanes, right - x0);
        alignas(32) float length[kLanes] = {};  // 0 for lanes past the row's end: never inside
        for (int k = 0; k < lanes; ++k) {
            const float n = norms[static_cast<size_t>(y) * width + x0 + k], fsigma = (float)(n * sqrt2amplitude);
            length[k] = kGaussPrec * fsigma;
        }
        const __m256 lengths = _mm256_load_ps(length);
        __m256 X = _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(x0), laneOffsets));
        __m256 Y = _mm256_set1_ps(static_cast<float>(y)), l = zero, S = zero;
        __m256 val[Channels];
        for (int c = 0; c < Channels; ++c) val[c] = zero;
        __m256 active = StillInside(X, Y, l, lengths, lastX, lastY);
        while (_mm256_movemask_ps(active)) {
            const __m256i cx = _mm256_cvttps_epi32(_mm256_add_ps(X, half)),
                          cy = _mm256_cvttps_epi32(_mm256_add_ps(Y, half));
            const __m256i cell = _mm256_mullo_epi32(_mm256_add_epi32(_mm256_mullo_epi32(cy, rowCells), cx), cellFloats);
            const __m256 u = _mm256_mask_i32gather_ps(zero, cells, cell, active, 4),
                         v = _mm256_mask_i32gather_ps(zero, cells + 1, cell, active, 4);
            for (int c = 0; c < Channels; ++c) {
                const __m256 sample = _mm256_mask_i32gather_ps(zero, cells + 2 + c, cell, active, 4);
                val[c] = _mm256_blendv_ps(val[c], _mm256_add_ps(val[c], sample), active);
            }
            S = _mm256_blendv_ps(S, _mm256_add_ps(S, one), active);
            X = _mm256_blendv_ps(X, _mm256_add_ps(X, u), active);
            Y = _mm256_blendv_ps(Y, _mm256_add_ps(Y, v), active);
            l = _mm256_blendv_ps(l, _mm256_add_ps(l, step), active);
            active = _mm256_and_ps(active, StillInside(X, Y, l, lengths, lastX, lastY));
        }
        alignas(32) float counts[kLanes], totals[Channels][kLanes];
        _mm256_store_ps(counts, S);
        for (int c = 0; c < Channels; ++c) _mm256_store_ps(totals[c], val[c]);
        for (int k = 0; k < lanes; ++k, sums += Channels) {
            if (counts[k] > 0)
                for (int c = 0; c < Channels; ++c) sums[c] += totals[c][k] / counts[k];
            else
                for (int c = 0; c < Channels; ++c)
                    sums[c] += cells[(static_cast<size_t>(y) * width + x0 + k) * kStride + 2 + c];
        }
    }
}

}  // namespace

// CImg's blur_anisotropic (2-D line integrals, the constants above) limited
// to a rectangle. Samples and steps are kept interleaved per pixel, so that
// each step of a streamline reads from one place.
void SmoothAlongTensorsInside(CImgF& image, const CImgF& field, const CBxRect& inside) {
    using namespace cimg_library;
    if (AbortPolled() || image.is_empty()) return;
    if (!image.is_sameXYZ(field) || field.spectrum() != 3 || image.depth() != 1)
        throw CImgArgumentException("SmoothAlongTensorsInside(): field (%u,%u,%u,%u) does not fit image (%u,%u,%u,%u).",
                                    field.width(), field.height(), field.depth(), field.spectrum(), image.width(),
                                    image.height(), image.depth(), image.spectrum());
    const int width = image.width(), height = image.height(), channels = image.spectrum();
    const int left = std::max(inside.left, 0), right = std::min(inside.right, width);
    const int top = std::max(inside.top, 0), bottom = std::min(inside.bottom, height);
    if (left >= right || top >= bottom) return;
    const int insideWidth = right - left;
    const size_t pixels = static_cast<size_t>(width) * height;

    float valMin, valMax = image.max_min(valMin);
    const float sqrt2amplitude = (float)std::sqrt(2 * kAmplitude);
    // Per pixel: the step along the current direction (u, v), then the
    // samples of every channel.
    const size_t stride = 2 + channels;
    std::vector<float> cells(pixels * stride), norms(pixels);
    std::vector<float> sums(static_cast<size_t>(insideWidth) * (bottom - top) * channels, 0.0f);
    for (int c = 0; c < channels; ++c) {
        const float* plane = image.data(0, 0, 0, c);
        for (size_t i = 0; i < pixels; ++i) cells[i * stride + 2 + c] = plane[i];
    }

    // The gathered cells are addressed by 32-bit offsets.
    const bool avx2 = UseAvx2() && pixels * stride < 0x7fffffffu;
    int N = 0;
    for (float theta = cimg::mod(360.f, kDa) / 2.f; theta < 360; (theta += kDa), ++N) {
        const float thetar = (float)(theta * cimg::PI / 180), vx = (float)(std::cos(thetar)),
                    vy = (float)(std::sin(thetar));
        const float *pa = field.data(0, 0, 0, 0), *pb = field.data(0, 0, 0, 1), *pc = field.data(0, 0, 0, 2);
        const bool parallel = insideWidth >= 64 && bottom - top >= 2;
#pragma omp parallel if (parallel)
        {
#pragma omp for
            for (ptrdiff_t i = 0; i < static_cast<ptrdiff_t>(pixels); ++i) {
                const float a = pa[i], b = pb[i], c = pc[i];
                const float u = (float)(a * vx + b * vy), v = (float)(b * vx + c * vy),
                            n = std::max(1e-5f, cimg::hypot(u, v)), dln = kDl / n;
                cells[i * stride] = u * dln;
                cells[i * stride + 1] = v * dln;
                norms[i] = n;
            }
#pragma omp for schedule(dynamic, 4)
            for (int y = top; y < bottom; ++y) {
                if (AbortPolled()) continue;
                float* rowSums = sums.data() + static_cast<size_t>(y - top) * insideWidth * channels;
                if (avx2 && channels == 1)
                    TraceRowAvx2<1>(y, left, right, width, height, cells.data(), norms.data(), sqrt2amplitude,
                                    rowSums);
                else if (avx2 && channels == 3)
                    TraceRowAvx2<3>(y, left, right, width, height, cells.data(), norms.data(), sqrt2amplitude,
                                    rowSums);
                else if (channels == 1)
                    TraceRow<1>(y, left, right, width, height, channels, cells.data(), norms.data(),
                                sqrt2amplitude, rowSums);
                else if (channels == 3)
                    TraceRow<3>(y, left, right, width, height, channels, cells.data(), norms.data(),
                                sqrt2amplitude, rowSums);
                else
                    TraceRow<0>(y, left, right, width, height, channels, cells.data(), norms.data(),
                                sqrt2amplitude, rowSums);
            }
        }
        if (AbortPolled()) return;
    }

    for (int y = top; y < bottom; ++y) {
        const float* rowSums = sums.data() + static_cast<size_t>(y - top) * insideWidth * channels;
        for (int x = left; x < right; ++x, rowSums += channels)
            for (int c = 0; c < channels; ++c) {
                const float value = rowSums[c] / N;
                image(x, y, 0, c) = value < valMin ? valMin : (value > valMax ? valMax : value);
            }
    }
}

CImgF CropTensorField(const CImgF& field, int x0, int y0, int x1, int y1) {
    if (field.is_empty()) return CImgF();
    return field.get_crop(x0, y0, 0, 0, x1, y1, 0, 2, 0);
}
