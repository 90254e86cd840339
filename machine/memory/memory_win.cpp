// Windows side of machine/memory/memory.h: large pages through VirtualAlloc with the
// lock-memory privilege, and the memory figures of GlobalMemoryStatusEx.
#include "machine/memory/memory.h"

#include <new>

#include "machine/win32_support.h"

namespace tavro {

namespace {

// Large pages need the lock-memory privilege enabled in the process token.
// The outcome is not checked: an account without the privilege simply gets
// failing large-page allocations later.
void request_lock_memory_privilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

}  // namespace

std::size_t enable_large_pages() {
    static const std::size_t page_size = [] {
        request_lock_memory_privilege();
        return static_cast<std::size_t>(GetLargePageMinimum());
    }();
    return page_size;
}

memory_block alloc_large_pages(std::size_t bytes) {
    const std::size_t size = large_page_request_size(bytes, enable_large_pages());
    if (size == 0) {
        return {};
    }
    // Large pages are committed and locked at once: the call fails when the
    // privilege is missing or the memory is too fragmented, never later.
    void* data =
        VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT | MEM_LARGE_PAGES, PAGE_READWRITE);
    if (data == nullptr) {
        return {};
    }
    return memory_block(data, size, memory_source::large_pages);
}

void detail::unmap_large_pages(void* data, std::size_t /*mapped_bytes*/) noexcept {
    VirtualFree(data, 0, MEM_RELEASE);
}

memory_block alloc_aligned(std::size_t bytes) {
    // Windows backs ordinary allocations with base pages only, so the heap
    // serves; it commits what it hands out and returns null when it cannot.
    void* data = ::operator new (bytes, std::align_val_t{aligned_block_alignment}, std::nothrow);
    if (data == nullptr) {
        return {};
    }
    return memory_block(data, bytes, memory_source::base_pages);
}

void detail::free_base_pages(void* data, std::size_t /*bytes*/) noexcept {
    ::operator delete (data, std::align_val_t{aligned_block_alignment});
}

std::size_t base_page_size() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize != 0 ? info.dwPageSize : 4096;
}

std::uint64_t available_large_page_memory() {
    // Large pages are taken from physical memory as they are allocated.
    return available_physical_memory();
}

std::uint64_t available_physical_memory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) {
        return 0;
    }
    return status.ullAvailPhys;
}

std::uint64_t grid_memory_budget() {
    // Windows commits memory when it is allocated and refuses only what
    // exceeds the commit limit, which counts the page file: grids beyond the
    // physical memory would be granted and paged out, and the run would
    // measure the disk.
    return available_physical_memory();
}

}  // namespace tavro
