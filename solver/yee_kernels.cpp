// WARNING: these two loops are what the benchmark scores. They stay plain
// scalar loops, one cell after another in index order, with the grouping of
// operations written below: every machine must run the same work for scores
// to compare, so no vector registers, no prefetching, no unrolling and no
// build flags that would bring them in (see solver/CMakeLists.txt; a test
// reads the built program's machine code to hold this).
//
// The grouping is also what keeps the physics checkable: with differences
// taken first, a curl-free field yields exact zeros and stays bit-for-bit
// unchanged, which the standing-wave check relies on. The library is built
// with -ffp-contract=off so that no fused multiply-add changes the rounding.
#include "solver/yee_kernels.h"

#include <cstddef>
#include <cstdint>

namespace tavro {

namespace {

bool kernel_can_run(const yee_grid& grid) {
    return grid.e.has_storage() && grid.h.has_storage() && grid.e.dim() == grid.h.dim();
}

}  // namespace

bool update_h(yee_grid& grid) {
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

bool update_e(yee_grid& grid) {
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

}  // namespace tavro
