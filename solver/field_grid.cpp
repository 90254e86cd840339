#include "solver/field_grid.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

namespace tavro {

field_array::field_array(field_array&& other) noexcept
    : dim_(std::exchange(other.dim_, 0)),
      large_pages_(std::exchange(other.large_pages_, false)),
      count_(std::exchange(other.count_, 0)),
      cells_(std::exchange(other.cells_, nullptr)),
      reservation_(std::move(other.reservation_)),
      storage_(std::move(other.storage_)) {}

field_array& field_array::operator=(field_array&& other) noexcept {
    if (this != &other) {
        release();
        dim_ = std::exchange(other.dim_, 0);
        large_pages_ = std::exchange(other.large_pages_, false);
        count_ = std::exchange(other.count_, 0);
        cells_ = std::exchange(other.cells_, nullptr);
        reservation_ = std::move(other.reservation_);
        storage_ = std::move(other.storage_);
    }
    return *this;
}

field_array field_array::create(std::uint64_t dim, bool large_pages, grid_memory_ledger& ledger) {
    field_array array = allocate(dim, large_pages, ledger);
    array.zero();
    return array;
}

bool field_array::zero() {
    if (cells_ == nullptr) {
        return true;
    }
    if (reservation_.bytes() == 0) {
        std::memset(static_cast<void*>(cells_), 0, count_ * sizeof(field_cell));
        return true;
    }
    if (!reservation_.first_touch(cells_)) {
        release();
        return false;
    }
    return true;
}

field_array field_array::allocate(std::uint64_t dim, bool large_pages, grid_memory_ledger& ledger) {
    field_array array;
    array.dim_ = dim;
    array.large_pages_ = large_pages;

    std::size_t count = 0;
    std::size_t bytes = 0;
    const auto d = static_cast<std::size_t>(dim);
    if (static_cast<std::uint64_t>(d) != dim || __builtin_mul_overflow(d, d, &count) ||
        __builtin_mul_overflow(count, d, &count) ||
        __builtin_mul_overflow(count, sizeof(field_cell), &bytes)) {
        return array;
    }

    if (large_pages) {
        // Huge pages come from a pool reserved when mapped, so they cannot be
        // over-committed and need no ledger entry.
        array.storage_ = alloc_large_pages(bytes);
    } else {
        std::optional<grid_memory_ledger::reservation> claim = ledger.reserve(bytes);
        if (!claim) {
            return array;
        }
        array.reservation_ = std::move(*claim);
        array.storage_ = alloc_aligned(bytes);
    }
    if (!array.storage_) {
        array.release();
        return array;
    }
    array.cells_ = static_cast<field_cell*>(array.storage_.data());
    array.count_ = count;
    return array;
}

void field_array::release() noexcept {
    cells_ = nullptr;
    count_ = 0;
    storage_.release();
    reservation_.release();
}

namespace {

/// Whether the ledger would admit both arrays of a grid of `dim` cells per
/// axis at once. A size whose byte count wraps is left to field_array::create
/// to refuse.
bool grid_fits(std::uint64_t dim, grid_memory_ledger& ledger) {
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(dim, dim, &bytes) || __builtin_mul_overflow(bytes, dim, &bytes) ||
        __builtin_mul_overflow(bytes, 2 * sizeof(field_cell), &bytes)) {
        return true;
    }
    return ledger.reserve(bytes).has_value();
}

}  // namespace

yee_grid build_yee_grid(const grid_request& request, grid_memory_ledger& ledger) {
    const std::uint64_t dim = request.grid_size + 2;
    yee_grid grid;
    // Both arrays are obtained before either is touched, and an E array
    // whose H cannot be had goes back at once: a failing grid holds no
    // memory while its thread waits for the others to leave.
    const auto obtain_both = [&] {
        grid.e = field_array::allocate(dim, request.large_pages, ledger);
        if (grid.e.has_storage()) {
            grid.h = field_array::allocate(dim, request.large_pages, ledger);
        }
        if (!grid.h.has_storage()) {
            grid.e.release();
        }
    };
    if (request.large_pages) {
        // The huge-page pool can change under a run, so its pages are taken
        // one grid at a time: a thread that gets its E array and not its H
        // gives E back before the next thread asks.
        static std::mutex large_page_admission;
        const std::lock_guard lock(large_page_admission);
        obtain_both();
    } else if (grid_fits(dim, ledger)) {
        // Refusing the whole grid up front spares mapping an E field that
        // could never be used.
        obtain_both();
    }
    if (!grid.e.zero() || !grid.h.zero()) {
        grid.e.release();
        grid.h.release();
    }
    grid.dx = request.cell_size;
    grid.dt = grid.dx * 0.5;
    grid.cell_volume = std::pow(grid.dx, 3.0);
    grid.ce = grid.dt / grid.dx;
    grid.ch = grid.dt / grid.dx;
    return grid;
}

double cell_energy(const yee_grid& grid, std::uint64_t i, std::uint64_t j, std::uint64_t k) {
    const field_cell& e = grid.e.at(i, j, k);
    const field_cell& h = grid.h.at(i, j, k);
    // The grouping of every sum is fixed: the standing-wave check compares
    // these values bit for bit while the fields are unchanged.
    const double e2 = (e.x * e.x + e.y * e.y) + e.z * e.z;
    const double hx = (grid.h.at(i - 1, j, k).x + h.x) * 0.5;
    const double hy = (grid.h.at(i, j - 1, k).y + h.y) * 0.5;
    const double hz = (grid.h.at(i, j, k - 1).z + h.z) * 0.5;
    const double h2 = (hx * hx + hy * hy) + hz * hz;
    return (e2 + h2) * (grid.cell_volume * 0.5);
}

double total_energy(const yee_grid& grid) {
    if (!grid.e.has_storage() || !grid.h.has_storage()) {
        return 0.0;
    }
    const std::uint64_t dim = grid.e.dim();
    const std::uint64_t b = dim - 1;
    if (b <= 2) {
        return 0.0;
    }
    // cell_energy with the row pointers taken once per row: the same
    // operations in the same order, one cell after another into one sum.
    const double half_volume = grid.cell_volume * 0.5;
    const field_cell* const e = grid.e.cells();
    const field_cell* const h = grid.h.cells();
    const auto row = static_cast<std::size_t>(dim);
    const std::size_t plane = row * row;
    double sum = 0.0;
    for (std::uint64_t i = 2; i < b; ++i) {
        for (std::uint64_t j = 2; j < b; ++j) {
            const std::size_t base = cell_index(dim, i, j, 0);
            const field_cell* const e0 = e + base;
            const field_cell* const h0 = h + base;
            const field_cell* const h_i1 = h0 - plane;
            const field_cell* const h_j1 = h0 - row;
            for (std::uint64_t k = 2; k < b; ++k) {
                const field_cell& ec = e0[k];
                const field_cell& hc = h0[k];
                const double e2 = (ec.x * ec.x + ec.y * ec.y) + ec.z * ec.z;
                const double hx = (h_i1[k].x + hc.x) * 0.5;
                const double hy = (h_j1[k].y + hc.y) * 0.5;
                const double hz = (h0[k - 1].z + hc.z) * 0.5;
                const double h2 = (hx * hx + hy * hy) + hz * hz;
                sum += (e2 + h2) * half_volume;
            }
        }
    }
    return sum;
}

}  // namespace tavro
