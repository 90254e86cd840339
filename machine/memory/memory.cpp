#include "machine/memory/memory.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace tavro {

memory_block::memory_block(memory_block&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      source_(std::exchange(other.source_, memory_source::none)) {}

memory_block& memory_block::operator=(memory_block&& other) noexcept {
    if (this != &other) {
        release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        source_ = std::exchange(other.source_, memory_source::none);
    }
    return *this;
}

void memory_block::release() noexcept {
    if (data_ != nullptr) {
        if (source_ == memory_source::large_pages) {
            detail::unmap_large_pages(data_, size_);
        } else {
            detail::free_base_pages(data_, size_);
        }
    }
    data_ = nullptr;
    size_ = 0;
    source_ = memory_source::none;
}

std::size_t large_page_request_size(std::size_t bytes, std::size_t page_size) {
    if (page_size == 0 || bytes > std::numeric_limits<std::size_t>::max() - (page_size - 1)) {
        return 0;
    }
    const std::size_t padded = bytes + (page_size - 1);
    return padded - padded % page_size;
}

std::uint64_t meminfo_bytes(std::string_view meminfo_text, std::string_view key) {
    std::string_view rest = meminfo_text;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != ':') {
            continue;
        }
        line.remove_prefix(key.size() + 1);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) {
            return 0;
        }
        line.remove_prefix(first);
        std::uint64_t value = 0;
        const auto [next, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (error != std::errc{}) {
            return 0;
        }
        const std::string_view unit = line.substr(static_cast<std::size_t>(next - line.data()));
        if (unit.find("kB") == std::string_view::npos) {
            return value;
        }
        if (value > std::numeric_limits<std::uint64_t>::max() / 1024) {
            return 0;
        }
        return value * 1024;
    }
    return 0;
}

std::uint64_t free_huge_page_bytes(std::string_view meminfo_text, std::uint64_t surplus_limit) {
    const std::uint64_t page = meminfo_bytes(meminfo_text, "Hugepagesize");
    if (page == 0) {
        return 0;
    }
    const std::uint64_t free = meminfo_bytes(meminfo_text, "HugePages_Free");
    const std::uint64_t reserved = meminfo_bytes(meminfo_text, "HugePages_Rsvd");
    const std::uint64_t surplus = meminfo_bytes(meminfo_text, "HugePages_Surp");
    // Reserved pages are promised to mappings that have not touched them yet.
    const std::uint64_t pool_pages = free - std::min(free, reserved);
    // Surplus pages are taken from ordinary memory when a mapping needs them.
    const std::uint64_t surplus_pages =
        std::min(surplus_limit - std::min(surplus_limit, surplus),
                 meminfo_bytes(meminfo_text, "MemAvailable") / page);
    const std::uint64_t pages = pool_pages + surplus_pages;
    if (pages < pool_pages || pages > std::numeric_limits<std::uint64_t>::max() / page) {
        return 0;
    }
    return pages * page;
}

std::uint64_t page_table_bytes(std::uint64_t bytes, std::uint64_t page_size) {
    constexpr std::uint64_t entry_bytes = 8;
    if (page_size < entry_bytes) {
        return 0;
    }
    const std::uint64_t entries_per_table = page_size / entry_bytes;
    std::uint64_t tables = 0;
    // Entries of one level are the pages (or tables) of the level below.
    std::uint64_t entries = bytes / page_size + (bytes % page_size != 0 ? 1 : 0);
    while (entries > 1) {
        entries = entries / entries_per_table + (entries % entries_per_table != 0 ? 1 : 0);
        tables += entries;
    }
    return tables * page_size;
}

std::uint64_t run_memory_need(std::uint64_t threads, std::uint64_t grid_bytes,
                              std::uint64_t page_size) {
    constexpr std::uint64_t too_much = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t grids = 0;
    std::uint64_t besides = 0;
    std::uint64_t need = 0;
    if (__builtin_mul_overflow(threads, grid_bytes, &grids) ||
        __builtin_mul_overflow(threads, thread_memory_need(page_size), &besides) ||
        __builtin_add_overflow(besides, process_memory_reserve, &besides) ||
        __builtin_add_overflow(grids, besides, &need) ||
        __builtin_add_overflow(need, page_table_bytes(grids, page_size), &need)) {
        return too_much;
    }
    return need;
}

std::uint64_t threads_that_fit(std::uint64_t available, std::uint64_t grid_bytes,
                               std::uint64_t page_size, std::uint64_t limit) {
    if (grid_bytes == 0) {
        return 0;
    }
    // The need grows with the count: the largest count that fits, by halving
    // the range between one that fits and one that does not.
    std::uint64_t fits = 0;
    std::uint64_t too_many =
        std::min({limit, available / grid_bytes, std::numeric_limits<std::uint64_t>::max() - 1}) +
        1;
    while (too_many - fits > 1) {
        const std::uint64_t middle = fits + (too_many - fits) / 2;
        if (run_memory_need(middle, grid_bytes, page_size) <= available) {
            fits = middle;
        } else {
            too_many = middle;
        }
    }
    return fits;
}

bool admit_grid_bytes(std::uint64_t live, std::uint64_t request, std::uint64_t budget) {
    if (budget == 0) {
        return true;
    }
    return request <= budget && live <= budget - request;
}

grid_memory_ledger::reservation::reservation(reservation&& other) noexcept
    : ledger_(std::exchange(other.ledger_, nullptr)),
      bytes_(std::exchange(other.bytes_, 0)),
      untouched_(std::exchange(other.untouched_, 0)) {}

grid_memory_ledger::reservation& grid_memory_ledger::reservation::operator=(
    reservation&& other) noexcept {
    if (this != &other) {
        release();
        ledger_ = std::exchange(other.ledger_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
        untouched_ = std::exchange(other.untouched_, 0);
    }
    return *this;
}

void grid_memory_ledger::reservation::release() noexcept {
    if (ledger_ != nullptr) {
        ledger_->give_back(bytes_, untouched_);
    }
    ledger_ = nullptr;
    bytes_ = 0;
    untouched_ = 0;
}

bool grid_memory_ledger::reservation::first_touch(void* data) noexcept {
    return ledger_ == nullptr || ledger_->first_touch(*this, data);
}

void grid_memory_ledger::set_budget(std::uint64_t budget) {
    const std::lock_guard<std::mutex> guard(lock_);
    budget_ = budget;
}

void grid_memory_ledger::set_watch(headroom_reader watch) {
    const std::lock_guard<std::mutex> guard(lock_);
    watch_ = watch;
}

std::optional<grid_memory_ledger::reservation> grid_memory_ledger::reserve(
    std::uint64_t bytes) noexcept {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!admit_grid_bytes(live_, bytes, budget_)) {
        return std::nullopt;
    }
    live_ += bytes;
    untouched_ += bytes;
    return reservation(this, bytes);
}

// The watch is read outside the lock: it reads the system, and the other
// threads' claims are counted all the same.
bool grid_memory_ledger::may_touch() const noexcept {
    headroom_reader watch = nullptr;
    std::uint64_t untouched = 0;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        watch = watch_;
        untouched = untouched_;
    }
    if (watch == nullptr) {
        return true;
    }
    std::uint64_t free = 0;
    try {
        free = watch();
    } catch (...) {
        return false;  // too short of memory even to read the figure
    }
    return free == 0 ||
           (free >= process_memory_reserve && free - process_memory_reserve >= untouched);
}

void grid_memory_ledger::touched(reservation& claim, std::uint64_t bytes) noexcept {
    const std::lock_guard<std::mutex> guard(lock_);
    claim.untouched_ -= bytes;
    untouched_ -= bytes;
}

bool grid_memory_ledger::first_touch(reservation& claim, void* data) noexcept {
    auto* at = static_cast<unsigned char*>(data);
    while (claim.untouched_ != 0) {
        if (!may_touch()) {
            return false;
        }
        const std::uint64_t chunk = std::min(claim.untouched_, first_touch_chunk);
        std::memset(at + (claim.bytes_ - claim.untouched_), 0, static_cast<std::size_t>(chunk));
        touched(claim, chunk);
    }
    return true;
}

std::uint64_t grid_memory_ledger::live_bytes() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return live_;
}

std::uint64_t grid_memory_ledger::untouched_bytes() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return untouched_;
}

void grid_memory_ledger::give_back(std::uint64_t bytes, std::uint64_t untouched) noexcept {
    const std::lock_guard<std::mutex> guard(lock_);
    live_ -= bytes;
    untouched_ -= untouched;
}

grid_memory_ledger& process_grid_ledger() {
    static grid_memory_ledger ledger;
    return ledger;
}

}  // namespace tavro
