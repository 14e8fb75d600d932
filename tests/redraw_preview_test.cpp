// The editor's Redraw preview: over the whole picture it is the full run, at
// any depth and level, and it makes the edge plane only when Details changes.
#include <gtest/gtest.h>

#include "engines/redraw/redraw.h"
#include "test_support.h"

TEST(RedrawPreview, OfTheWholePictureIsTheFullRun) {
    struct Case {
        int components, bits, fuse, level;
    } cases[] = {{3, 8, 1, RedrawLevelNormal}, {1, 8, 0, RedrawLevelRough}, {3, 16, 1, RedrawLevelOriginal}};
    for (const Case& c : cases) {
        PicBufHolder source, run, preview;
        MakeTestPicture(source, 90, 70, c.components, c.bits);
        RedrawJob job{};
        FillRedrawJob(job, 15, 60, c.fuse, c.level);
        job.source = &source.buf;
        job.result = &run.buf;
        RedrawRepaint(job);
        CBxPicBufAPI::ConvertBpcComp(run.buf, c.bits, c.components);  // the run's result is 8-bit
        RedrawPreviewCache cache;
        RedrawPreview(preview.buf, source.buf, CBxRect{0, 0, 90, 70}, job, cache);
        EXPECT_TRUE(SamePixels(preview.buf, run.buf)) << c.components << " components, " << c.bits << " bits";
    }
}

// The edge plane reports two steps per component while it is made.
TEST(RedrawPreview, MakesTheEdgePlaneOnlyWhenDetailsChange) {
    PicBufHolder source, preview;
    MakeTestPicture(source, 120, 90, 3, 8);
    RedrawPreviewCache cache;
    const CBxRect region{20, 10, 80, 60};
    auto steps = [&](int details, int cut) {
        ProgressCounter counter;
        RedrawJob job{};
        FillRedrawJob(job, details, cut, 1, 0);
        RedrawPreview(preview.buf, source.buf, region, job, cache);
        return counter.steps();
    };
    const int first = steps(10, 50), cutMoved = steps(10, 20), detailsMoved = steps(30, 20);
    EXPECT_EQ(first - cutMoved, 6);
    EXPECT_EQ(detailsMoved - cutMoved, 6);
    EXPECT_EQ(preview->width, 60);
    RedrawJob job{};
    EXPECT_THROW(RedrawPreview(preview.buf, source.buf, CBxRect{100, 0, 130, 10}, job, cache), std::invalid_argument);
}
