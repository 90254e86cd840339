// Linux side of machine/memory/memory.h: huge pages through mmap and the memory
// figures from /proc/meminfo and the process's memory control groups.
#include "machine/memory/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "machine/memory/system_limits.h"
#include "machine/text_file.h"

namespace tavro {

namespace {

// Empty when the file cannot be read, which every caller treats as unknown.
std::string read_meminfo() {
    return read_text_file("/proc/meminfo").value_or(std::string{});
}

}  // namespace

std::size_t enable_large_pages() {
    // Linux needs no privilege for huge pages: whether a request succeeds
    // depends on the size of the huge-page pool, which only an administrator
    // sets (vm.nr_hugepages). MAP_HUGETLB uses the default huge-page size.
    static const std::size_t page_size =
        static_cast<std::size_t>(meminfo_bytes(read_meminfo(), "Hugepagesize"));
    return page_size;
}

memory_block alloc_large_pages(std::size_t bytes) {
    const std::size_t size = large_page_request_size(bytes, enable_large_pages());
    if (size == 0) {
        return {};
    }
    // Private huge-page mappings take their pages from the pool when mapped,
    // so an empty or short pool fails here rather than at first touch.
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_HUGETLB, -1, 0);
    if (data == MAP_FAILED) {
        return {};
    }
    return memory_block(data, size, memory_source::large_pages);
}

void detail::unmap_large_pages(void* data, std::size_t mapped_bytes) noexcept {
    munmap(data, mapped_bytes);
}

memory_block alloc_aligned(std::size_t bytes) {
    if (bytes == 0) {
        return {};
    }
    // A mapping of its own, page-aligned, rather than the heap: it can be
    // advised, and it goes back to the system the moment it is released.
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) {
        return {};
    }
    // Where transparent huge pages are "always" on (the default of several
    // distributions) the kernel would back the grid with 2 MiB pages, and
    // the same machine would score differently from one distribution to the
    // next. The advice fails only on kernels without them, where the grid
    // has base pages anyway.
    madvise(data, bytes, MADV_NOHUGEPAGE);
    return memory_block(data, bytes, memory_source::base_pages);
}

void detail::free_base_pages(void* data, std::size_t bytes) noexcept {
    munmap(data, bytes);
}

std::size_t base_page_size() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

std::uint64_t available_large_page_memory() {
    const std::uint64_t surplus_limit =
        read_number_file<std::uint64_t>("/proc/sys/vm/nr_overcommit_hugepages").value_or(0);
    return free_huge_page_bytes(read_meminfo(), surplus_limit);
}

std::uint64_t available_physical_memory() {
    // In a container MemAvailable is the host's; the memory control groups
    // of the process may allow far less, and the kernel kills the process
    // when it goes past their limit.
    const std::uint64_t host = meminfo_bytes(read_meminfo(), "MemAvailable");
    const std::optional<std::uint64_t> group = process_cgroup_limits().memory_headroom;
    if (!group) {
        return host;
    }
    // A full group leaves 1 byte rather than 0, which would read as unknown.
    const std::uint64_t headroom = std::max<std::uint64_t>(*group, 1);
    return host == 0 ? headroom : std::min(host, headroom);
}

std::uint64_t grid_memory_budget() {
    // Linux over-commits: a grid beyond what the machine can back would be
    // granted and the process killed later while it is filled.
    return available_physical_memory();
}

}  // namespace tavro
