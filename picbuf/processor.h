// Which instruction set the pixel loops may use. The loops that have an AVX2
// copy take it where the processor has AVX2; both copies round every
// operation alike (no fused multiply-add), so the bytes are the same.
#pragma once

// True when the processor has AVX2 and tests have not turned it off.
bool UseAvx2();

// false keeps every loop to the instructions all x86-64 processors have;
// for tests that compare both copies. Set it only while nothing runs.
void AllowAvx2(bool allowed);
