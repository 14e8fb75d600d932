#include "processor.h"

namespace {
bool avx2Allowed = true;
}

bool UseAvx2() { return avx2Allowed && __builtin_cpu_supports("avx2"); }

void AllowAvx2(bool allowed) { avx2Allowed = allowed; }
