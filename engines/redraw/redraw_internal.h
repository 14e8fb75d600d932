// Helpers shared by the Redraw engine's own files.
#pragma once

#include <new>

#include "picbuf/picbuf.h"
#include "picbuf/run_control.h"

namespace redraw_detail {

// Allocates buf with the geometry; memory short throws std::bad_alloc.
inline void MakePicture(SBxPicBuf& buf, int width, int height, int components, int bitsPerComponent) {
    if (!CBxPicBufAPI::ReinitHeap(buf, width, height, components, bitsPerComponent) ||
        (!buf.pixels && width > 0 && height > 0))
        throw std::bad_alloc();
}

inline void MakePictureLike(SBxPicBuf& buf, const SBxPicBuf& like) {
    MakePicture(buf, like.width, like.height, like.components, like.bitsPerComponent);
}

// Library calls that can fail only for lack of memory once the arguments
// have been checked.
inline void Require(bool done) {
    if (!done) throw std::bad_alloc();
}

inline bool HasSamples(const SBxPicBuf& buf) {
    return buf.pixels && buf.width > 0 && buf.height > 0;
}

// Redraw's steps reach the user only while the run's progress bar is shown.
inline void Progress(int steps) {
    ReportProgress(steps, ProgressRule::WhenBarShown);
}

}  // namespace redraw_detail
