#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

namespace tavro {

/// Which allocator a memory_block came from, and so how it is given back.
enum class memory_source : std::uint8_t { none, aligned_heap, large_pages };

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

/// Heap storage of `bytes` bytes on a 64-byte boundary, not initialised.
/// An empty block when the heap cannot supply it (never throws).
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

/// Process-wide account of the bytes held by field grids on the ordinary
/// heap. Linux over-commits memory, so an allocation larger than the machine
/// can back would succeed and the process be killed later while the grid is
/// zero-filled; the ledger refuses such a request up front instead. The
/// budget is the available physical memory read whenever the count was zero,
/// so grids already held are not counted twice. Thread-safe.
class grid_memory_ledger {
  public:
    /// Reads the available physical memory in bytes (0 when unknown).
    using available_reader = std::function<std::uint64_t()>;

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

      private:
        friend class grid_memory_ledger;
        reservation(grid_memory_ledger* ledger, std::uint64_t bytes)
            : ledger_(ledger), bytes_(bytes) {}

        grid_memory_ledger* ledger_ = nullptr;
        std::uint64_t bytes_ = 0;
    };

    explicit grid_memory_ledger(available_reader reader);
    grid_memory_ledger(const grid_memory_ledger&) = delete;
    grid_memory_ledger& operator=(const grid_memory_ledger&) = delete;

    /// Claims `bytes` for a grid, or nothing when admit_grid_bytes refuses.
    /// REQUIRES: the ledger outlives the reservation.
    std::optional<reservation> reserve(std::uint64_t bytes);

    /// Bytes currently claimed.
    std::uint64_t live_bytes() const;

  private:
    void give_back(std::uint64_t bytes) noexcept;

    available_reader reader_;
    mutable std::mutex lock_;
    std::uint64_t live_ = 0;
    std::uint64_t budget_ = 0;
};

/// The budget the process-wide grid ledger admits grids against, in bytes; 0
/// for no limit. On Linux the available physical memory, as the system
/// over-commits; on Windows 0, as the system refuses at allocation what it
/// cannot commit. Read afresh at every call.
std::uint64_t grid_memory_budget();

/// The ledger that every workload of this process uses, with its budget from
/// grid_memory_budget.
grid_memory_ledger& process_grid_ledger();

namespace detail {
/// Unmaps storage from alloc_large_pages; only memory_block calls it.
void unmap_large_pages(void* data, std::size_t mapped_bytes) noexcept;
}  // namespace detail

}  // namespace tavro
