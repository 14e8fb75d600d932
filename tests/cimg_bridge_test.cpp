#include <gtest/gtest.h>

#include <omp.h>

#include <cstring>
#include <vector>

#include "picbuf/cimg_bridge.h"
#include "test_support.h"

using cimg_library::CImgAbortException;

namespace {

bool SameBits(const CImgF& a, const CImgF& b) {
    return a.is_sameXYZC(b) && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// A test picture's component 0 as a float image.
CImgF TestImage(int width, int height, int bitsPerComponent, unsigned seed = 1) {
    PicBufHolder pic;
    MakeTestPicture(pic, width, height, 1, bitsPerComponent, seed);
    return ImportPlane(pic.buf);
}

}  // namespace

TEST(CImgBridgeExport, TruncatesTowardZeroAndKeepsTheLowBits) {
    const std::vector<float> values = {254.9f, 0.7f, 255.0f, 1.999f, -0.5f, 256.5f, -1.5f};
    CImgF image(static_cast<unsigned>(values.size()), 1, 1, 1);
    for (size_t i = 0; i < values.size(); ++i) image[i] = values[i];

    PicBufHolder plane8;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(plane8.buf, image.width(), 1, 1, 8));
    ExportPlane(image, plane8.buf);
    const std::vector<double> expected8 = {254, 0, 255, 1, 0, 0, 255};
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(SampleAt(plane8.buf, i, 0, 0), expected8[i]) << values[i];

    image[0] = 65534.9f, image[2] = 300.99f, image[5] = 65536.5f;
    PicBufHolder plane16;
    ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(plane16.buf, image.width(), 1, 1, 16));
    ExportPlane(image, plane16.buf);
    const std::vector<double> expected16 = {65534, 0, 300, 1, 0, 0, 65535};
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(SampleAt(plane16.buf, i, 0, 0), expected16[i]) << i;
}

TEST(CImgBridgeImport, PlanesAndPicturesRoundTripAtTheirOwnDepth) {
    for (int depth : {8, 16}) {
        PicBufHolder plane, back;
        MakeTestPicture(plane, 37, 23, 1, depth);
        CImgF image = ImportPlane(plane.buf);
        ASSERT_EQ(image.width(), 37);
        ASSERT_EQ(image.height(), 23);
        ASSERT_EQ(image.spectrum(), 1);
        EXPECT_EQ(image(36, 22), static_cast<float>(SampleAt(plane.buf, 36, 22, 0)));
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(back.buf, plane.buf));
        ExportPlane(image, back.buf);
        EXPECT_TRUE(SamePixels(back.buf, plane.buf)) << depth;

        PicBufHolder colour, colourBack;
        MakeTestPicture(colour, 19, 11, 3, depth);
        CImgF channels = ImportPicture(colour.buf);
        ASSERT_EQ(channels.spectrum(), 3);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(channels(18, 10, 0, c), SampleAt(colour.buf, 18, 10, c));
        ASSERT_TRUE(CBxPicBufAPI::ReinitHeap(colourBack.buf, colour.buf));
        ExportPicture(channels, colourBack.buf);
        EXPECT_TRUE(SamePixels(colourBack.buf, colour.buf)) << depth;
    }
}

TEST(CImgBridgeImport, ReadsAndWritesHandFilledRowsByTheirPitchOnly) {
    PicBufHolder plane;
    MakeTestPicture(plane, 10, 4, 1, 8);
    const int pitch = 16;
    std::vector<uint8_t> storage(pitch * 4, 0xEE);
    SBxPicBuf wide{storage.data(), static_cast<int32_t>(storage.size()), pitch, 10, 4, 1, 8};
    for (int y = 0; y < 4; ++y) std::memcpy(storage.data() + y * pitch, PicRow(plane.buf, y), 10);

    CImgF image = ImportPlane(wide);
    EXPECT_EQ(image(3, 2), SampleAt(plane.buf, 3, 2, 0));
    image.fill(7.5f);
    ExportPlane(image, wide);
    EXPECT_EQ(storage[3 * pitch + 9], 7);
    EXPECT_EQ(storage[3 * pitch + 10], 0xEE) << "bytes past a row's end are not touched";

    // An image of another size writes nothing.
    CImgF other(9, 4, 1, 1, 100.0f);
    ExportPlane(other, wide);
    EXPECT_EQ(storage[0], 7);
}

TEST(CImgBridgeGuide, IsAGreyPlaneAtThePicturesOwnDepth) {
    for (int depth : {8, 16}) {
        PicBufHolder colour, guide;
        MakeTestPicture(colour, 20, 10, 3, depth);
        ASSERT_TRUE(MakeGuidePlane(guide.buf, colour.buf));
        EXPECT_EQ(guide->components, 1);
        EXPECT_EQ(guide->bitsPerComponent, depth);
        EXPECT_EQ(guide->width, 20);
        const double b = SampleAt(colour.buf, 5, 5, 0), g = SampleAt(colour.buf, 5, 5, 1),
                     r = SampleAt(colour.buf, 5, 5, 2);
        EXPECT_NEAR(SampleAt(guide.buf, 5, 5, 0), 0.299 * r + 0.587 * g + 0.114 * b, 0.51);
    }
}

// The field is computed pass by pass to poll the abort flag; it must stay
// CImg's own, for every branch of CImg's blur (alpha under 0.5 takes
// Deriche's filter, under 0.1 none) and for a sharpness clamped to 1e-5.
TEST(CImgBridgeTensors, AreBitForBitCImgsDiffusionTensors) {
    struct Case {
        float sharpness, alpha, sigma;
    };
    const Case cases[] = {{0.25f, 0.4f, 4.0f}, {0.495f, 0.04f, 1.0f}, {0.0f, 4.0f, 11.0f}, {0.1f, 0.8f, 2.5f}};
    for (int depth : {8, 16}) {
        const CImgF image = TestImage(300, 280, depth);
        for (const Case& c : cases) {
            CImgF expected = image.get_diffusion_tensors(c.sharpness, 1.0f, c.alpha, c.sigma, true);
            CImgF field = ComputeDiffusionTensors(image, c.sharpness, c.alpha, c.sigma);
            ASSERT_EQ(field.spectrum(), 3);
            EXPECT_TRUE(SameBits(field, expected)) << depth << " " << c.sharpness << " " << c.alpha;
        }
    }

    // A plane gives the field of its float image.
    PicBufHolder plane;
    MakeTestPicture(plane, 64, 48, 1, 16);
    EXPECT_TRUE(SameBits(ComputeDiffusionTensors(plane.buf, 0.25f, 0.4f, 4.0f),
                         ComputeDiffusionTensors(ImportPlane(plane.buf), 0.25f, 0.4f, 4.0f)));
}

TEST(CImgBridgeTensors, DoNotDependOnTheNumberOfThreads) {
    // Large enough for the parallel loops; three channels as well, whose
    // structure tensors CImg itself would add up in thread order.
    PicBufHolder colour;
    MakeTestPicture(colour, 300, 280, 3, 8);
    const CImgF grey = ImportPicture(colour.buf).get_channel(1);
    const CImgF channels = ImportPicture(colour.buf);

    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    CImgF greySerial = ComputeDiffusionTensors(grey, 0.25f, 0.4f, 4.0f);
    CImgF channelsSerial = ComputeDiffusionTensors(channels, 0.25f, 0.4f, 4.0f);
    CImgF cimgSerial = channels.get_diffusion_tensors(0.25f, 1.0f, 0.4f, 4.0f, true);
    omp_set_num_threads(2);
    CImgF greyParallel = ComputeDiffusionTensors(grey, 0.25f, 0.4f, 4.0f);
    CImgF channelsParallel = ComputeDiffusionTensors(channels, 0.25f, 0.4f, 4.0f);
    omp_set_num_threads(threads);

    EXPECT_TRUE(SameBits(greySerial, greyParallel));
    EXPECT_TRUE(SameBits(channelsSerial, channelsParallel));
    EXPECT_TRUE(SameBits(channelsSerial, cimgSerial));
}

// The tiles' own smoothing must give CImg's samples inside its rectangle,
// whatever the channel count, sample range or field, and leave the rest.
TEST(CImgBridgeSmoothing, InsideARectangleGivesCImgsSamplesThere) {
    struct Case {
        int channels, depth;
        float sharpness, alpha, sigma;
        CBxRect inside;
    };
    const Case cases[] = {
        {3, 8, 0.25f, 0.4f, 4.0f, {0, 0, 150, 110}},    {1, 8, 0.25f, 0.4f, 4.0f, {20, 30, 100, 90}},
        {3, 16, 0.495f, 0.04f, 1.0f, {50, 0, 150, 60}}, {2, 8, 0.0f, 4.0f, 11.0f, {-10, 40, 70, 200}},
        {3, 8, 0.1f, 2.0f, 2.0f, {149, 109, 150, 110}},
    };
    for (const Case& c : cases) {
        PicBufHolder pic;
        MakeTestPicture(pic, 150, 110, 3, c.depth, 3);
        const CImgF picture = ImportPicture(pic.buf).get_channels(0, c.channels - 1);
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
        EXPECT_EQ(wrong, 0) << c.channels << " channels, " << c.depth << " bits, sharpness " << c.sharpness;
    }
}

TEST(CImgBridgeSmoothing, CropsTheFieldWithInclusiveCorners) {
    const CImgF field = ComputeDiffusionTensors(TestImage(80, 60, 8), 0.25f, 0.4f, 4.0f);
    CImgF crop = CropTensorField(field, 10, 20, 49, 59);
    ASSERT_EQ(crop.width(), 40);
    ASSERT_EQ(crop.height(), 40);
    ASSERT_EQ(crop.spectrum(), 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(crop(39, 39, 0, c), field(49, 59, 0, c));
    EXPECT_EQ(crop(0, 0, 0, 2), field(10, 20, 0, 2));
    EXPECT_TRUE(CropTensorField(CImgF(), 0, 0, 9, 9).is_empty());
}

TEST(CImgBridgeAbort, CImgsOwnLoopsThrowWhenTheFlagIsSet) {
    ProgressCounter counter;  // clears the flag again on both ends
    CImgF image = TestImage(64, 64, 8);
    const CImgF field = ComputeDiffusionTensors(image, 0.25f, 0.4f, 4.0f);
    const CImgF before = image;
    RequestAbort(true);
    // The hook is compiled into CImg: it fires before the first direction.
    EXPECT_THROW(image.blur_anisotropic(field, 200.0f, 0.8f, 30.0f, 2.0f, 0, true), CImgAbortException);
    EXPECT_TRUE(SameBits(image, before));
}

TEST(CImgBridgeAbort, OperationsReturnEarlyWithoutThrowing) {
    ProgressCounter counter;
    CImgF image = TestImage(300, 300, 8);
    const CImgF field = ComputeDiffusionTensors(image, 0.25f, 0.4f, 4.0f);
    const CImgF before = image;
    RequestAbort(true);
    EXPECT_NO_THROW(SmoothAlongTensors(image, field));
    EXPECT_NO_THROW(SmoothAlongTensorsInside(image, field, CBxRect{0, 0, 300, 300}));
    EXPECT_TRUE(SameBits(image, before)) << "an aborted smoothing leaves the image as it was";
    CImgF aborted;
    EXPECT_NO_THROW(aborted = ComputeDiffusionTensors(image, 0.25f, 0.4f, 4.0f));
    EXPECT_FALSE(SameBits(aborted, field)) << "an aborted field is left unfinished";
}
