// Moments on the way from a preview request to the screen, for the
// felt-latency benchmark (bench/felt_latency.cpp): a few counter reads per
// preview into one plain record, which nothing in the editor reads.
#pragma once

#include <windows.h>

struct PreviewStamps {
    LONGLONG requested;    // the dialog took a preview request
    LONGLONG engineStart;  // the preview thread began the engine
    LONGLONG engineEnd;    // and ended it
    LONGLONG landed;       // the dialog took the finished preview
    LONGLONG copied;       // the preview stands in the display picture
    LONGLONG rendered;     // the view has drawn it into the back buffer
    LONGLONG painted;      // the first paint of the view after that has ended
    LONG computations;     // engine runs begun
};
extern PreviewStamps previewStamps;

inline void Stamp(LONGLONG& moment) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    moment = now.QuadPart;
}
