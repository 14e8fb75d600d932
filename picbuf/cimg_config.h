// The one place that configures CImg for the whole program. Every core file
// that needs CImg includes this header (usually through cimg_bridge.h) and
// never <CImg.h> itself: CImg's configuration macros change the code of its
// templates, so they must be the same in every translation unit.
//
// - No display, no console or message-box output: errors reach the caller
//   only as exceptions.
// - OpenMP: CImg's parallel loops are on. The ones the bridge uses split
//   work by rows or lines that are computed independently, so results do
//   not depend on the number of threads. (CImg's structure tensors of
//   several channels are the exception; ComputeDiffusionTensors avoids it.)
// - Abort: CImg's long loops poll abortRequested and throw
//   CImgAbortException when it is set. Any CImg call that contains these
//   polls (blur_anisotropic, convolve/correlate, erode/dilate, blur_patch,
//   ...) can therefore throw it; the bridge catches it in its own
//   operations, other callers must catch it themselves.
#pragma once

#ifdef cimg_version
#error "CImg.h was included before picbuf/cimg_config.h; include only this header"
#endif

#ifndef _OPENMP
#error "The core is built with OpenMP (-fopenmp, OpenMP::OpenMP_CXX) so that CImg is the same everywhere"
#endif

#include "run_control.h"

#define cimg_display 0
#define cimg_verbosity 0
#define cimg_use_openmp 1

// Polled before each pass of CImg's long operations (cimg_abort_test) and
// per row inside their parallel loops (cimg_abort_test2). Inside a parallel
// loop CImg catches the exception per row, skips the remaining rows and
// rethrows at its next cimg_abort_test outside the loop.
#define cimg_abort_test                                                  \
    do {                                                                 \
        if (::AbortPolled()) throw cimg_library::CImgAbortException();   \
    } while (0)
#define cimg_abort_test2 cimg_abort_test

#include <CImg.h>
