// WARNING: performance-critical. These two loops are what the benchmark
// scores; measure with tavro_step_perf before and after any change, and keep
// them bit-identical to the plain loops in yee_reference.cpp (the tests
// compare them).
//
// What is measured must stay the same work on every machine: H over the
// whole grid, then E over the whole grid, cells in index order, each with
// the reference's grouping of operations. Within that the loops are written
// for the memory system of the plain x86-64 baseline (SSE2, no dispatch):
// - a cell is held in two SSE2 registers, (x, y) and (z, pad); every lane
//   does exactly the scalar operation of the reference, so results match
//   bit for bit (the pad lane is written back unchanged);
// - two cells, one 64-byte line, per iteration, with software prefetch of
//   the streams that come from memory 128 cells (4 KiB) ahead: on the 2-core
//   test machine 96 and 192 cells measured a few percent slower at N = 192,
//   320 clearly slower;
// - row pointers hoisted out of the inner loop.
#include "solver/yee_kernels.h"

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace tavro {

namespace {

// Cells ahead of the current one that each memory stream is prefetched.
constexpr std::size_t prefetch_cells = 128;

bool kernel_can_run(const yee_grid& grid) {
    return grid.e.has_storage() && grid.h.has_storage() && grid.e.dim() == grid.h.dim();
}

// Prefetching never faults, but pointer arithmetic past the array would be
// undefined, so the address is formed as an integer.
inline void prefetch_ahead(const field_cell* p) {
    const std::uintptr_t address =
        reinterpret_cast<std::uintptr_t>(p) + prefetch_cells * sizeof(field_cell);
    _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0);
}

inline __m128d load_xy(const field_cell* c) {
    return _mm_load_pd(&c->x);
}

// z and the padding that fills the cell to 32 bytes.
inline __m128d load_zw(const field_cell* c) {
    return _mm_load_pd(&c->z);
}

inline void store_xy(field_cell* c, __m128d v) {
    _mm_store_pd(&c->x, v);
}

inline void store_zw(field_cell* c, __m128d v) {
    _mm_store_pd(&c->z, v);
}

// One H cell from the E cells c = (i, j, k), k1 = (i, j, k+1), j1 = (i, j+1, k)
// and i1 = (i+1, j, k):
//   Hx -= ((Ez(j1) - Ez) - (Ey(k1) - Ey)) * ch
//   Hy -= ((Ex(k1) - Ex) - (Ez(i1) - Ez)) * ch
//   Hz -= ((Ey(i1) - Ey) - (Ex(j1) - Ex)) * ch
inline void h_cell(const field_cell* c, const field_cell* j1, const field_cell* i1, field_cell* out,
                   __m128d ch) {
    const __m128d c_xy = load_xy(c);
    const __m128d c_zw = load_zw(c);
    const __m128d k1_xy = load_xy(c + 1);
    const __m128d j1_xy = load_xy(j1);
    const __m128d j1_zw = load_zw(j1);
    const __m128d i1_xy = load_xy(i1);
    const __m128d i1_zw = load_zw(i1);

    // Lanes (x, y): [Ez(j1) - Ez, Ex(k1) - Ex] - [Ey(k1) - Ey, Ez(i1) - Ez].
    const __m128d first = _mm_sub_pd(_mm_unpacklo_pd(j1_zw, k1_xy), _mm_unpacklo_pd(c_zw, c_xy));
    const __m128d second =
        _mm_sub_pd(_mm_shuffle_pd(k1_xy, i1_zw, 1), _mm_shuffle_pd(c_xy, c_zw, 1));
    const __m128d out_xy = load_xy(out);
    store_xy(out, _mm_sub_pd(out_xy, _mm_mul_pd(_mm_sub_pd(first, second), ch)));

    // Lane z: [Ey(i1) - Ey, Ex(j1) - Ex], then the low minus the high lane.
    const __m128d parts =
        _mm_sub_pd(_mm_shuffle_pd(i1_xy, j1_xy, 1), _mm_shuffle_pd(c_xy, c_xy, 1));
    const __m128d curl_z = _mm_sub_sd(parts, _mm_unpackhi_pd(parts, parts));
    // _sd operations keep the upper lane of their first operand: the pad.
    const __m128d out_zw = load_zw(out);
    store_zw(out, _mm_sub_sd(out_zw, _mm_mul_sd(curl_z, ch)));
}

// One E cell from the H cells c = (i, j, k), k1 = (i, j, k-1), j1 = (i, j-1, k)
// and i1 = (i-1, j, k):
//   Ex = ((Hz - Hz(j1)) - (Hy - Hy(k1))) * ce + Ex
//   Ey = ((Hx - Hx(k1)) - (Hz - Hz(i1))) * ce + Ey
//   Ez = ((Hy - Hy(i1)) - (Hx - Hx(j1))) * ce + Ez
inline void e_cell(const field_cell* c, const field_cell* j1, const field_cell* i1, field_cell* out,
                   __m128d ce) {
    const __m128d c_xy = load_xy(c);
    const __m128d c_zw = load_zw(c);
    const __m128d k1_xy = load_xy(c - 1);
    const __m128d j1_xy = load_xy(j1);
    const __m128d j1_zw = load_zw(j1);
    const __m128d i1_xy = load_xy(i1);
    const __m128d i1_zw = load_zw(i1);

    // Lanes (x, y): [Hz - Hz(j1), Hx - Hx(k1)] - [Hy - Hy(k1), Hz - Hz(i1)].
    const __m128d first = _mm_sub_pd(_mm_unpacklo_pd(c_zw, c_xy), _mm_unpacklo_pd(j1_zw, k1_xy));
    const __m128d second =
        _mm_sub_pd(_mm_shuffle_pd(c_xy, c_zw, 1), _mm_shuffle_pd(k1_xy, i1_zw, 1));
    const __m128d out_xy = load_xy(out);
    store_xy(out, _mm_add_pd(_mm_mul_pd(_mm_sub_pd(first, second), ce), out_xy));

    // Lane z: [Hy - Hy(i1), Hx - Hx(j1)], then the low minus the high lane.
    const __m128d parts =
        _mm_sub_pd(_mm_shuffle_pd(c_xy, c_xy, 1), _mm_shuffle_pd(i1_xy, j1_xy, 1));
    const __m128d curl_z = _mm_sub_sd(parts, _mm_unpackhi_pd(parts, parts));
    const __m128d out_zw = load_zw(out);
    store_zw(out, _mm_add_sd(out_zw, _mm_mul_sd(curl_z, ce)));
}

}  // namespace

bool update_h(yee_grid& grid) {
    if (!kernel_can_run(grid)) {
        return false;
    }
    const std::uint64_t dim = grid.e.dim();
    const std::uint64_t b = dim - 2;
    const __m128d ch = _mm_set1_pd(grid.ch);
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
                const field_cell* __restrict const e0 = e + base;
                const field_cell* __restrict const e_j1 = e0 + row;
                const field_cell* __restrict const e_i1 = e0 + plane;
                field_cell* __restrict const h0 = h + base;
                // Row j of E is row j+1 of the previous pass, still cached;
                // row j+1, plane i+1 and H come from memory.
                for (k = 1; k + 1 < b; k += 2) {
                    prefetch_ahead(e_j1 + k);
                    prefetch_ahead(e_i1 + k);
                    prefetch_ahead(h0 + k);
                    h_cell(e0 + k, e_j1 + k, e_i1 + k, h0 + k, ch);
                    h_cell(e0 + k + 1, e_j1 + k + 1, e_i1 + k + 1, h0 + k + 1, ch);
                }
                if (k < b) {
                    h_cell(e0 + k, e_j1 + k, e_i1 + k, h0 + k, ch);
                    ++k;
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
    const __m128d ce = _mm_set1_pd(grid.ce);
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
                const field_cell* __restrict const h0 = h + base;
                const field_cell* __restrict const h_j1 = h0 - row;
                const field_cell* __restrict const h_i1 = h0 - plane;
                field_cell* __restrict const e0 = e + base;
                // Row j-1 of H was row j of the previous pass; row j,
                // plane i-1 and E come from memory.
                for (k = 2; k + 1 < b; k += 2) {
                    prefetch_ahead(h0 + k);
                    prefetch_ahead(h_i1 + k);
                    prefetch_ahead(e0 + k);
                    e_cell(h0 + k, h_j1 + k, h_i1 + k, e0 + k, ce);
                    e_cell(h0 + k + 1, h_j1 + k + 1, h_i1 + k + 1, e0 + k + 1, ce);
                }
                if (k < b) {
                    e_cell(h0 + k, h_j1 + k, h_i1 + k, e0 + k, ce);
                    ++k;
                }
            }
        }
    }
    return i == b && j == b && k == b;
}

}  // namespace tavro
