// The reference kernels: the plainest form of the arithmetic that the fast
// kernels in yee_kernels.cpp must reproduce bit for bit. Not used by runs.
//
// The grouping of every operation is fixed and must not be "simplified":
// with differences taken first, a curl-free field yields exact zeros and
// stays bit-for-bit unchanged, which the standing-wave check relies on. The
// library is built with -ffp-contract=off so that no fused multiply-add
// changes the rounding either.
#include "solver/yee_reference.h"

#include <cstddef>
#include <cstdint>

namespace tavro {

namespace {

bool kernel_can_run(const yee_grid& grid) {
    return grid.e.has_storage() && grid.h.has_storage() && grid.e.dim() == grid.h.dim();
}

}  // namespace

bool update_h_plain(yee_grid& grid) {
    if (!kernel_can_run(grid)) {
        return false;
    }
    const std::uint64_t dim = grid.e.dim();
    const std::uint64_t b = dim - 2;
    const double ch = grid.ch;
    const field_cell* const e = grid.e.cells();
    field_cell* const h = grid.h.cells();
    const auto row = static_cast<std::size_t>(dim);
    const std::size_t plane = row * row;

    std::uint64_t i = 1;
    std::uint64_t j = 1;
    std::uint64_t k = 1;
    if (b > 1) {
        for (i = 1; i < b; ++i) {
            for (j = 1; j < b; ++j) {
                const std::size_t base = cell_index(dim, i, j, 0);
                const field_cell* const e0 = e + base;
                const field_cell* const e_j1 = e0 + row;
                const field_cell* const e_i1 = e0 + plane;
                field_cell* const h0 = h + base;
                for (k = 1; k < b; ++k) {
                    const field_cell c = e0[k];
                    const field_cell c_k1 = e0[k + 1];
                    const field_cell c_j1 = e_j1[k];
                    const field_cell c_i1 = e_i1[k];
                    field_cell& out = h0[k];
                    const double hx = out.x - ((c_j1.z - c.z) - (c_k1.y - c.y)) * ch;
                    const double hy = out.y - ((c_k1.x - c.x) - (c_i1.z - c.z)) * ch;
                    const double hz = out.z - ((c_i1.y - c.y) - (c_j1.x - c.x)) * ch;
                    out.x = hx;
                    out.y = hy;
                    out.z = hz;
                }
            }
        }
    }
    return i == b && j == b && k == b;
}

bool update_e_plain(yee_grid& grid) {
    if (!kernel_can_run(grid)) {
        return false;
    }
    const std::uint64_t dim = grid.e.dim();
    const std::uint64_t b = dim - 1;
    const double ce = grid.ce;
    field_cell* const e = grid.e.cells();
    const field_cell* const h = grid.h.cells();
    const auto row = static_cast<std::size_t>(dim);
    const std::size_t plane = row * row;

    std::uint64_t i = 2;
    std::uint64_t j = 2;
    std::uint64_t k = 2;
    if (b > 2) {
        for (i = 2; i < b; ++i) {
            for (j = 2; j < b; ++j) {
                const std::size_t base = cell_index(dim, i, j, 0);
                const field_cell* const h0 = h + base;
                const field_cell* const h_j1 = h0 - row;
                const field_cell* const h_i1 = h0 - plane;
                field_cell* const e0 = e + base;
                for (k = 2; k < b; ++k) {
                    const field_cell c = h0[k];
                    const field_cell c_k1 = h0[k - 1];
                    const field_cell c_j1 = h_j1[k];
                    const field_cell c_i1 = h_i1[k];
                    field_cell& out = e0[k];
                    const double ex = ((c.z - c_j1.z) - (c.y - c_k1.y)) * ce + out.x;
                    const double ey = ((c.x - c_k1.x) - (c.z - c_i1.z)) * ce + out.y;
                    const double ez = ((c.y - c_i1.y) - (c.x - c_j1.x)) * ce + out.z;
                    out.x = ex;
                    out.y = ey;
                    out.z = ez;
                }
            }
        }
    }
    return i == b && j == b && k == b;
}

double total_energy_plain(const yee_grid& grid) {
    if (!grid.e.has_storage() || !grid.h.has_storage()) {
        return 0.0;
    }
    const std::uint64_t b = grid.e.dim() - 1;
    if (b <= 2) {
        return 0.0;
    }
    double sum = 0.0;
    for (std::uint64_t i = 2; i < b; ++i) {
        for (std::uint64_t j = 2; j < b; ++j) {
            for (std::uint64_t k = 2; k < b; ++k) {
                sum += cell_energy(grid, i, j, k);
            }
        }
    }
    return sum;
}

}  // namespace tavro
