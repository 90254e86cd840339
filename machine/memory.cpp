#include "machine/memory.h"

#include <charconv>
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
            ::operator delete (data_, std::align_val_t{aligned_block_alignment});
        }
    }
    data_ = nullptr;
    size_ = 0;
    source_ = memory_source::none;
}

memory_block alloc_aligned(std::size_t bytes) {
    void* data = ::operator new (bytes, std::align_val_t{aligned_block_alignment}, std::nothrow);
    if (data == nullptr) {
        return {};
    }
    return memory_block(data, bytes, memory_source::aligned_heap);
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

bool admit_grid_bytes(std::uint64_t live, std::uint64_t request, std::uint64_t budget) {
    if (budget == 0) {
        return true;
    }
    return request <= budget && live <= budget - request;
}

grid_memory_ledger::reservation::reservation(reservation&& other) noexcept
    : ledger_(std::exchange(other.ledger_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

grid_memory_ledger::reservation& grid_memory_ledger::reservation::operator=(
    reservation&& other) noexcept {
    if (this != &other) {
        release();
        ledger_ = std::exchange(other.ledger_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
}

void grid_memory_ledger::reservation::release() noexcept {
    if (ledger_ != nullptr) {
        ledger_->give_back(bytes_);
    }
    ledger_ = nullptr;
    bytes_ = 0;
}

grid_memory_ledger::grid_memory_ledger(available_reader reader) : reader_(std::move(reader)) {}

std::optional<grid_memory_ledger::reservation> grid_memory_ledger::reserve(std::uint64_t bytes) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (live_ == 0) {
        budget_ = reader_();
    }
    if (!admit_grid_bytes(live_, bytes, budget_)) {
        return std::nullopt;
    }
    live_ += bytes;
    return reservation(this, bytes);
}

std::uint64_t grid_memory_ledger::live_bytes() const {
    const std::lock_guard<std::mutex> guard(lock_);
    return live_;
}

void grid_memory_ledger::give_back(std::uint64_t bytes) noexcept {
    const std::lock_guard<std::mutex> guard(lock_);
    live_ -= bytes;
}

grid_memory_ledger& process_grid_ledger() {
    static grid_memory_ledger ledger(grid_memory_budget);
    return ledger;
}

}  // namespace tavro
