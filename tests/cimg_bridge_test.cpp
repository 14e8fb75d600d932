#include "picbuf/cimg_bridge.h"
#include "picbuf/processor.h"
#include "test_support.h"

namespace {

bool SameBits(const CImgF& a, const CImgF& b) {
    return a.is_sameXYZC(b) && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

CImgF TestImage(int width, int height, int components, int bitsPerComponent, unsigned seed = 1) {
    PicBufHolder pic;
    MakeTestPicture(pic, width, height, components, bitsPerComponent, seed);
    return ImportPicture(pic.buf);
}

}  // namespace

TEST(CImgBridge, ExportTruncatesTowardZeroAndPlanesAreReadAndWrittenByTheirPitch) {
    const std::vector<float> values = {254.9f, 0.7f, 255.0f, 1.999f, -0.5f, 256.5f, -1.5f, 65536.5f};
    const std::vector<double> expected8 = {254, 0, 255, 1, 0, 0, 255, 0};
    const std::vector<double> expected16 = {254, 0, 255, 1, 0, 256, 65535, 0};
    const CImgF row(values.data(), static_cast<unsigned>(values.size()), 1, 1, 1);
    for (int depth : {8, 16}) {
        PicBufHolder plane;
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(plane.buf, row.width(), 1, 1, depth));
        ExportPlane(row, plane.buf);
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(SampleAt(plane.buf, i, 0), (depth == 8 ? expected8 : expected16)[i]) << values[i];
    }

    // The guide is a grey plane at the picture's own depth.
    for (int depth : {8, 16}) {
        PicBufHolder colour, guide;
        MakeTestPicture(colour, 20, 10, 3, depth);
        ASSERT_TRUE(MakeGuidePlane(guide.buf, colour.buf));
        EXPECT_EQ(guide->components, 1);
        EXPECT_EQ(guide->bitsPerComponent, depth);
        const double b = SampleAt(colour.buf, 5, 5, 0), g = SampleAt(colour.buf, 5, 5, 1), r = SampleAt(colour.buf, 5, 5, 2);
        EXPECT_NEAR(SampleAt(guide.buf, 5, 5), 0.299 * r + 0.587 * g + 0.114 * b, 0.51);
    }

    // A hand-filled plane with a wider pitch: rows are read and written by it.
    std::vector<uint8_t> storage(16 * 4, 0xEE);
    SBxPicBuf wide{storage.data(), 16 * 4, 16, 10, 4, 1, 8};
    storage[3 * 16 + 2] = 42;
    CImgF image = ImportPlane(wide);
    EXPECT_EQ(image(2, 3), 42);
    image.fill(7.5f);
    ExportPlane(image, wide);
    EXPECT_EQ(storage[3 * 16 + 9], 7);
    EXPECT_EQ(storage[3 * 16 + 10], 0xEE) << "bytes past a row's end are not touched";
    // Another size, another channel count, a picture where a plane belongs: nothing is written.
    ExportPlane(CImgF(9, 4, 1, 1, 100.0f), wide);
    ExportPicture(CImgF(10, 4, 1, 3, 100.0f), wide);
    SBxPicBuf colour{storage.data(), 16 * 4, 16, 5, 4, 3, 8};
    ExportPlane(CImgF(5, 4, 1, 3, 100.0f), colour);
    EXPECT_EQ(std::count(storage.begin(), storage.end(), 100), 0);
}

// The field is computed pass by pass to poll the abort flag; it must stay
// CImg's own, for every branch of CImg's blur (alpha under 0.5 takes
// Deriche's filter, under 0.1 none), a sharpness clamped to 1e-5, any number
// of threads and several channels (which CImg itself adds in thread order).
TEST(CImgBridge, TensorsAreBitForBitCImgsWithAnyNumberOfThreads) {
    struct Case {
        float sharpness, alpha, sigma;
    };
    const Case cases[] = {{0.25f, 0.4f, 4.0f}, {0.495f, 0.04f, 1.0f}, {0.0f, 4.0f, 11.0f}, {0.1f, 0.8f, 2.5f}};
    for (int depth : {8, 16}) {
        const CImgF image = TestImage(160, 120, 1, depth);
        for (const Case& c : cases)
            EXPECT_TRUE(SameBits(ComputeDiffusionTensors(image, c.sharpness, c.alpha, c.sigma),
                                 image.get_diffusion_tensors(c.sharpness, 1.0f, c.alpha, c.sigma, true)))
                << depth << " " << c.sharpness << " " << c.alpha;
    }

    // Large enough for the parallel loops.
    const CImgF channels = TestImage(300, 280, 3, 8);
    CImgF serial, cimgSerial;
    {
        OmpThreads one(1);
        serial = ComputeDiffusionTensors(channels, 0.25f, 0.4f, 4.0f);
        cimgSerial = channels.get_diffusion_tensors(0.25f, 1.0f, 0.4f, 4.0f, true);
    }
    OmpThreads two(2);
    EXPECT_TRUE(SameBits(serial, ComputeDiffusionTensors(channels, 0.25f, 0.4f, 4.0f)));
    EXPECT_TRUE(SameBits(serial, cimgSerial));
}

// The tiles' own smoothing must give CImg's samples inside its rectangle,
// whatever the channel count, sample range or field, with AVX2 or without,
// and leave the rest.
TEST(CImgBridge, SmoothingInsideARectangleGivesCImgsSamplesThere) {
    struct Case {
        int channels, depth;
        float sharpness, alpha, sigma;
        CBxRect inside;
    };
    const Case cases[] = {
        {3, 8, 0.25f, 0.4f, 4.0f, {0, 0, 120, 90}},    {1, 8, 0.25f, 0.4f, 4.0f, {20, 30, 100, 70}},
        {3, 16, 0.495f, 0.04f, 1.0f, {50, 0, 120, 60}}, {2, 8, 0.0f, 4.0f, 11.0f, {-10, 40, 70, 200}},
        {3, 8, 0.1f, 2.0f, 2.0f, {119, 89, 120, 90}},
    };
    for (bool avx2 : {true, false})
    for (const Case& c : cases) {
        AllowAvx2(avx2);
        const CImgF picture = TestImage(120, 90, 3, c.depth, 3).get_channels(0, c.channels - 1);
        const CImgF field = ComputeDiffusionTensors(picture.get_channel(0), c.sharpness, c.alpha, c.sigma);
        CImgF expected = picture, actual = picture;
        expected.blur_anisotropic(field, 200.0f, 0.8f, 30.0f, 2.0f, 0, true);
        SmoothAlongTensorsInside(actual, field, c.inside);
        int wrong = 0;
        cimg_forXYC(actual, x, y, ch) {
            const bool in = x >= c.inside.left && x < c.inside.right && y >= c.inside.top && y < c.inside.bottom;
            const float want = in ? expected(x, y, 0, ch) : picture(x, y, 0, ch);
            wrong += std::memcmp(&actual(x, y, 0, ch), &want, sizeof(float)) != 0;
        }
        EXPECT_EQ(wrong, 0) << c.channels << " channels, " << c.depth << " bits, sharpness " << c.sharpness
                            << (avx2 ? ", AVX2" : "");
    }
    AllowAvx2(true);
}

TEST(CImgBridge, AbortStopsCImgsLoopsAndTheBridgesOperations) {
    ProgressCounter counter;  // clears the flag again on both ends
    CImgF image = TestImage(64, 64, 1, 8);
    const CImgF field = ComputeDiffusionTensors(image, 0.25f, 0.4f, 4.0f);
    const CImgF before = image;
    RequestAbort(true);
    // CImg's own loops throw; the bridge returns early without throwing.
    EXPECT_THROW(image.blur_anisotropic(field, 200.0f, 0.8f, 30.0f, 2.0f, 0, true), cimg_library::CImgAbortException);
    EXPECT_NO_THROW(SmoothAlongTensors(image, field));
    EXPECT_NO_THROW(SmoothAlongTensorsInside(image, field, CBxRect{0, 0, 64, 64}));
    EXPECT_TRUE(SameBits(image, before)) << "an aborted smoothing leaves the image as it was";
    CImgF aborted;
    EXPECT_NO_THROW(aborted = ComputeDiffusionTensors(image, 0.25f, 0.4f, 4.0f));
    EXPECT_FALSE(SameBits(aborted, field)) << "an aborted field is left unfinished";
}
