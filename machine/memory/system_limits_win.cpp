// Windows side of machine/memory/system_limits.h: the address space that thread
// stacks take.
#include "machine/memory/system_limits.h"

#include <algorithm>

#include "machine/win32_support.h"

namespace tavro {

namespace {

// Every new thread reserves the stack size of the program's image header in
// the address space, and reservations come in units of 64 KiB.
std::uint64_t thread_stack_reservation() {
    constexpr std::uint64_t granularity = 64 * 1024;
    const auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    if (base == nullptr) {
        return granularity;
    }
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return std::max<std::uint64_t>(nt->OptionalHeader.SizeOfStackReserve, granularity);
}

}  // namespace

cgroup_limits process_cgroup_limits() {
    return {};
}

std::uint64_t system_thread_limit() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return 0;
    }
    return std::max<std::uint64_t>(1, status.ullAvailVirtual / thread_stack_reservation());
}

address_space_facts process_address_space() {
    // A 64-bit process's address space is not limited per process; the
    // commit limit refuses what cannot be backed at allocation.
    return {};
}

}  // namespace tavro
