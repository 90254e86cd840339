#pragma once

#include <cstddef>
#include <cstdint>

#include "machine/memory/memory.h"

namespace tavro {

/// One cell of one field: three components, padded to 32 bytes so that every
/// cell of an array starts on a 32-byte boundary.
struct alignas(32) field_cell {
    double x;
    double y;
    double z;
};
static_assert(sizeof(field_cell) == 32);

/// Element position of cell (i, j, k) in an array of `dim` cells per axis:
/// i (along x) varies slowest, k (along z) fastest.
inline std::size_t cell_index(std::uint64_t dim, std::uint64_t i, std::uint64_t j,
                              std::uint64_t k) {
    const auto d = static_cast<std::size_t>(dim);
    return (static_cast<std::size_t>(i) * d + static_cast<std::size_t>(j)) * d +
           static_cast<std::size_t>(k);
}

/// One field (E or H) of a grid: dim^3 cells, interior indices 1..dim - 2.
/// Move-only; moving leaves the source without storage and with count 0.
class field_array {
  public:
    field_array() = default;
    field_array(field_array&& other) noexcept;
    field_array& operator=(field_array&& other) noexcept;
    field_array(const field_array&) = delete;
    field_array& operator=(const field_array&) = delete;
    ~field_array() = default;

    /// An array of dim^3 zeroed cells, from large pages when `large_pages` is
    /// set, else from the 64-byte aligned heap after `ledger` admitted it.
    /// Without storage (count 0) when the byte count does not fit in
    /// std::size_t or the memory cannot be had; never throws.
    static field_array create(std::uint64_t dim, bool large_pages, grid_memory_ledger& ledger);

    /// As create, but the cells are left as the allocator gave them, for
    /// zero() to fill: a caller that needs several arrays can obtain all of
    /// them before touching any.
    static field_array allocate(std::uint64_t dim, bool large_pages, grid_memory_ledger& ledger);

    /// Sets every cell to zero, which is when the system backs the pages;
    /// zeroing on the thread that will run the kernels also places them on
    /// that thread's memory node. An array admitted by a ledger is filled
    /// through it (grid_memory_ledger::first_touch): when other programs
    /// took the memory meanwhile, the storage is given back and the result
    /// is false.
    bool zero();

    /// Cells per axis, N + 2.
    std::uint64_t dim() const { return dim_; }
    /// Whether the storage was requested from the large-page allocator.
    bool large_pages() const { return large_pages_; }
    /// Cells held: dim^3, or 0 without storage.
    std::size_t count() const { return count_; }
    field_cell* cells() { return cells_; }
    const field_cell* cells() const { return cells_; }
    bool has_storage() const { return cells_ != nullptr; }

    /// REQUIRES: storage, and each index below dim.
    field_cell& at(std::uint64_t i, std::uint64_t j, std::uint64_t k) {
        return cells_[cell_index(dim_, i, j, k)];
    }
    const field_cell& at(std::uint64_t i, std::uint64_t j, std::uint64_t k) const {
        return cells_[cell_index(dim_, i, j, k)];
    }

    /// Returns the storage to its allocator and the ledger; count becomes 0.
    void release() noexcept;

  private:
    std::uint64_t dim_ = 0;
    bool large_pages_ = false;
    std::size_t count_ = 0;
    field_cell* cells_ = nullptr;
    // Declared before storage_ so the memory is freed before the ledger is
    // told it is.
    grid_memory_ledger::reservation reservation_;
    memory_block storage_;
};

/// The Yee grid of one worker thread.
struct yee_grid {
    field_array e;
    field_array h;
    /// Cell edge.
    double dx = 0.0;
    /// Time step, dx / 2.
    double dt = 0.0;
    double cell_volume = 0.0;
    /// Coefficient of the E update, dt / dx.
    double ce = 0.0;
    /// Coefficient of the H update, dt / dx.
    double ch = 0.0;
};

/// What a workload's allocate_fields receives.
struct grid_request {
    /// The run's large-page setting, read when the arrays are built.
    const bool& large_pages;
    /// Interior edge N of the N x N x N grid.
    std::uint64_t grid_size;
    /// Cell edge dx.
    double cell_size;
};

/// A grid of (N + 2)^3 zeroed cells per field with its coefficients. Both
/// arrays are left without storage when either cannot be had (see
/// field_array::create): a grid that cannot be whole holds nothing. Large
/// pages are obtained one grid at a time in the process, so that an array
/// given back by a grid that failed is there for the next one.
yee_grid build_yee_grid(const grid_request& request, grid_memory_ledger& ledger);

/// Energy of cell (i, j, k): |E|^2 plus |H|^2 with each H component averaged
/// along its own axis, times half the cell volume.
/// REQUIRES: 1 <= i, j, k < dim and both arrays with storage.
double cell_energy(const yee_grid& grid, std::uint64_t i, std::uint64_t j, std::uint64_t k);

/// Sum of cell_energy over the indices 2..N on every axis, k innermost; 0 for
/// N < 2 or a grid without storage.
double total_energy(const yee_grid& grid);

}  // namespace tavro
