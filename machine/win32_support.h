#pragma once

// The one place that includes <windows.h>: the *_win.cpp files include this
// header instead, so every one of them sees the same trimmed-down API without
// the min/max macros that would break std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
