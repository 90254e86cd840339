#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace tavro {

/// Which allocator a memory_block came from, and so how it is given back.
enum class memory_source : std::uint8_t { none, base_pages, large_pages };

/// Move-only owner of storage from alloc_aligned or alloc_large_pages. It
/// remembers its allocator and the size actually obtained, and returns the
/// storage to that allocator when released or destroyed. A moved-from or
/// failed block holds nothing.
class memory_block {
  public:
    memory_block() = default;
    ~memory_block() { release(); }
    memory_block(const memory_block&) = delete;
    memory_block& operator=(const memory_block&) = delete;
    memory_block(memory_block&& other) noexcept;
    memory_block& operator=(memory_block&& other) noexcept;

    /// The storage, or nullptr when the block holds nothing.
    void* data() const { return data_; }
    /// Bytes obtained: the request, or for large pages the request rounded up
    /// to whole pages. 0 when the block holds nothing.
    std::size_t size() const { return size_; }
    memory_source source() const { return source_; }
    explicit operator bool() const { return data_ != nullptr; }

    /// Returns the storage to its allocator; afterwards the block is empty.
    void release() noexcept;

  private:
    friend memory_block alloc_aligned(std::size_t bytes);
    friend memory_block alloc_large_pages(std::size_t bytes);
    memory_block(void* data, std::size_t size, memory_source source)
        : data_(data), size_(size), source_(source) {}

    void* data_ = nullptr;
    std::size_t size_ = 0;
    memory_source source_ = memory_source::none;
};

/// Alignment of alloc_aligned storage in bytes: one cache line.
inline constexpr std::size_t aligned_block_alignment = 64;

/// Storage of `bytes` bytes on ordinary (base) pages, on at least a 64-byte
/// boundary, not initialised. On Linux a mapping of its own that is advised
/// against transparent huge pages, so that a grid is backed by the same
/// pages whatever the system's huge-page setting; on Windows the aligned
/// heap. An empty block when the memory cannot be had (never throws).
memory_block alloc_aligned(std::size_t bytes);

/// Storage backed by the system's default large (huge) pages, `bytes`
/// rounded up to whole large pages. Empty when the system has no large pages
/// or its large-page pool cannot supply the request; there is deliberately
/// no fallback to ordinary pages.
memory_block alloc_large_pages(std::size_t bytes);

/// The large-page size in bytes, 0 when the system has none. Determined on
/// the first call in the process (thread-safe) and then returned unchanged.
std::size_t enable_large_pages();

/// Physical memory available to new allocations right now, in bytes; 0 when
/// it cannot be read. On Linux the smaller of the system's MemAvailable and
/// the headroom of the process's memory control groups (at least 1 byte
/// when a group is full). Read afresh at every call.
std::uint64_t available_physical_memory();

/// Memory that alloc_large_pages can still hand out, in bytes; 0 when
/// unknown or none. On Linux the free, unreserved pages of the default
/// huge-page pool plus the surplus pages it may still add; on Windows,
/// where large pages come from physical memory, available_physical_memory.
std::uint64_t available_large_page_memory();

/// Size of the system's ordinary memory pages in bytes (4096 on most).
std::size_t base_page_size();

/// The pages that the huge-page pool described by /proc/meminfo's text can
/// still hand out, in bytes: HugePages_Free less HugePages_Rsvd, plus the
/// surplus pages that `surplus_limit` (/proc/sys/vm/nr_overcommit_hugepages)
/// still allows beyond HugePages_Surp, as many as MemAvailable holds. 0 when
/// the text names no huge-page size.
std::uint64_t free_huge_page_bytes(std::string_view meminfo_text, std::uint64_t surplus_limit);

/// Memory a run needs besides its grids, which the memory guard keeps free:
/// per thread, its user stack, kernel stack and allocator arena, and the page
/// tables of those and of its two grid mappings (about 80 KiB measured in a
/// memory control group, kernel memory included: three times that here);
/// per process, a reserve for what the program takes once the run has begun
/// (buffers, output, libraries loaded late).
inline constexpr std::uint64_t thread_memory_allowance = 256 * 1024;
inline constexpr std::uint64_t process_memory_reserve = 4 * 1024 * 1024;

/// What a thread needs besides its grids with pages of `page_size`: the
/// pages it touches cost a page each, so with pages larger than 4 KiB it
/// takes more than thread_memory_allowance (about 2.4 MiB a thread
/// measured with 64 KiB pages, on POWER): 48 pages, at least the allowance.
constexpr std::uint64_t thread_memory_need(std::uint64_t page_size) {
    return page_size > thread_memory_allowance / 48 ? 48 * page_size : thread_memory_allowance;
}

/// Bytes of page tables that mapping `bytes` in pages of `page_size` takes:
/// one 8-byte entry per page at the lowest level and the tables above it,
/// each level rounded up to whole table pages. 0 for a `page_size` of 0.
std::uint64_t page_table_bytes(std::uint64_t bytes, std::uint64_t page_size);

/// What a run of `threads` threads with `grid_bytes` of grids each needs of
/// physical memory: the grids, what each thread needs besides them
/// (thread_memory_need), the process reserve, and the page tables that
/// map the grids in pages of `page_size`. The largest value when the sum
/// does not fit in 64 bits.
std::uint64_t run_memory_need(std::uint64_t threads, std::uint64_t grid_bytes,
                              std::uint64_t page_size);

/// The most threads, at most `limit`, whose run_memory_need fits in
/// `available` bytes; 0 when not even one does or `grid_bytes` is 0.
std::uint64_t threads_that_fit(std::uint64_t available, std::uint64_t grid_bytes,
                               std::uint64_t page_size, std::uint64_t limit);

/// `bytes` rounded up to whole pages of `page_size` bytes. 0 when
/// `page_size` is 0 or the rounded size does not fit in std::size_t.
std::size_t large_page_request_size(std::size_t bytes, std::size_t page_size);

/// The value of the line "`key`: <number> [kB]" in the text of
/// /proc/meminfo, in bytes (kB counts 1024 bytes). 0 when the key is
/// missing, the number is malformed or the byte count does not fit.
std::uint64_t meminfo_bytes(std::string_view meminfo_text, std::string_view key);

/// Whether a grid allocation of `request` bytes may be made while `live`
/// bytes of grids are held, against a `budget` of physical memory (0 when
/// unknown: then every request is admitted, as nothing better is known).
bool admit_grid_bytes(std::uint64_t live, std::uint64_t request, std::uint64_t budget);

/// Process-wide account of the bytes held by field grids on ordinary pages.
/// Linux over-commits memory, so an allocation larger than the machine can
/// back would succeed and the process be killed later while the grid is
/// zero-filled; the ledger refuses such a request up front instead. A run
/// sets the budget once, before its workers start (the memory free at that
/// moment less what run_memory_need keeps besides the grids), so the grids it
/// admits are not counted twice and no worker reads the system. Thread-safe.
class grid_memory_ledger {
  public:
    /// Move-only claim on ledger bytes; gives them back when destroyed.
    class reservation {
      public:
        reservation() = default;
        ~reservation() { release(); }
        reservation(const reservation&) = delete;
        reservation& operator=(const reservation&) = delete;
        reservation(reservation&& other) noexcept;
        reservation& operator=(reservation&& other) noexcept;

        std::uint64_t bytes() const { return bytes_; }
        void release() noexcept;

        /// Zero-fills the claimed storage at `data`, `bytes()` long, as the
        /// ledger's first_touch does. An empty claim has nothing to fill.
        bool first_touch(void* data) noexcept;

      private:
        friend class grid_memory_ledger;
        reservation(grid_memory_ledger* ledger, std::uint64_t bytes)
            : ledger_(ledger), bytes_(bytes), untouched_(bytes) {}

        grid_memory_ledger* ledger_ = nullptr;
        std::uint64_t bytes_ = 0;
        /// Bytes not yet zero-filled, which the system has not backed yet.
        std::uint64_t untouched_ = 0;
    };

    /// A ledger that admits grids against `budget` bytes (0: no limit).
    explicit grid_memory_ledger(std::uint64_t budget = 0) : budget_(budget) {}
    grid_memory_ledger(const grid_memory_ledger&) = delete;
    grid_memory_ledger& operator=(const grid_memory_ledger&) = delete;

    /// Replaces the budget (0: no limit); grids held stay counted.
    void set_budget(std::uint64_t budget);

    /// What first_touch asks, between chunks, for the memory still free to
    /// the process (the budget's source read afresh; 0: unknown). nullptr
    /// fills without asking.
    using headroom_reader = std::uint64_t (*)();
    void set_watch(headroom_reader watch);

    /// Zero-fills the storage of `claim` at `data` in chunks of
    /// first_touch_chunk bytes, which is when the system backs it. Before
    /// each chunk it asks the watch how much memory is still free and gives
    /// up, returning false, when that is less than every claim's bytes not
    /// yet filled plus process_memory_reserve: another program (a second run
    /// in the same memory control group) took memory since the run was
    /// weighed, and filling on would have the kernel kill one of them. The
    /// caller then gives the storage back.
    bool first_touch(reservation& claim, void* data) noexcept;

    /// Bytes claimed and not yet zero-filled.
    std::uint64_t untouched_bytes() const;

    /// Claims `bytes` for a grid, or nothing when admit_grid_bytes refuses.
    /// Never reads the system and never throws.
    /// REQUIRES: the ledger outlives the reservation.
    std::optional<reservation> reserve(std::uint64_t bytes) noexcept;

    /// Bytes currently claimed.
    std::uint64_t live_bytes() const;

  private:
    void give_back(std::uint64_t bytes, std::uint64_t untouched) noexcept;
    bool may_touch() const noexcept;
    void touched(reservation& claim, std::uint64_t bytes) noexcept;

    mutable std::mutex lock_;
    std::uint64_t live_ = 0;
    std::uint64_t untouched_ = 0;
    std::uint64_t budget_ = 0;
    headroom_reader watch_ = nullptr;
};

/// The bytes first_touch fills between two looks at the free memory: small
/// against process_memory_reserve, so that two runs filling at once in one
/// memory group, each looking before every chunk, cannot together pass the
/// group's limit by more than what the reserve covers.
inline constexpr std::uint64_t first_touch_chunk = 2 * 1024 * 1024;

/// The physical memory that a run must fit in (see run_memory_need), in
/// bytes; 0 for no limit: the available physical memory, as Linux
/// over-commits and Windows commits against its page file as well. Read
/// afresh at every call.
std::uint64_t grid_memory_budget();

/// The ledger that every workload of this process uses; a run sets its budget.
grid_memory_ledger& process_grid_ledger();

namespace detail {
/// Unmaps storage from alloc_large_pages; only memory_block calls it.
void unmap_large_pages(void* data, std::size_t mapped_bytes) noexcept;
/// Gives back storage from alloc_aligned; only memory_block calls it.
void free_base_pages(void* data, std::size_t bytes) noexcept;
}  // namespace detail

}  // namespace tavro
