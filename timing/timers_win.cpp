// Windows side of timing/timers.h: the performance counter, the tick count
// and the system timer's resolution.
#include "timing/timers.h"

#include "machine/win32_support.h"

namespace tavro {

namespace {

// ntdll exports this without an import library or a header declaration in
// MinGW; it is looked up at run time. Resolutions are in units of 100 ns.
using nt_query_timer_resolution = LONG(NTAPI*)(PULONG minimum, PULONG maximum, PULONG current);

std::optional<std::uint32_t> query_timer_resolution() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return std::nullopt;
    }
    const FARPROC address = GetProcAddress(ntdll, "NtQueryTimerResolution");
    if (address == nullptr) {
        return std::nullopt;
    }
    // A function pointer of the exported type: GetProcAddress hands every
    // export out under one generic type.
    const auto query =
        reinterpret_cast<nt_query_timer_resolution>(reinterpret_cast<void (*)()>(address));
    ULONG minimum = 0;
    ULONG maximum = 0;
    ULONG current = 0;
    if (query(&minimum, &maximum, &current) < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(current);
}

std::optional<std::uint32_t> query_time_increment() {
    DWORD adjustment = 0;
    DWORD increment = 0;
    BOOL disabled = FALSE;
    if (!GetSystemTimeAdjustment(&adjustment, &increment, &disabled)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(increment);
}

}  // namespace

std::int64_t fast_timer::now() {
    LARGE_INTEGER count{};
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

timer_info fast_timer::info() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    timer_info info;
    info.report_hz = frequency.QuadPart;
    info.underlying_hz = frequency.QuadPart;
    info.source = classify_timer_source(frequency.QuadPart, read_tsc_info());
    return info;
}

std::uint64_t coarse_timer::now() {
    return GetTickCount64();
}

timer_info coarse_timer::info() {
    timer_info info;
    info.report_hz = 1000;
    const auto resolution = query_timer_resolution();
    // The fallback is asked only when the first source gives nothing.
    info.underlying_hz = windows_tick_hz(
        resolution, resolution && *resolution != 0 ? std::nullopt : query_time_increment());
    return info;
}

}  // namespace tavro
