#include "solver/yee_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "solver/standing_wave.h"

namespace tavro {
namespace {

const bool small_pages = false;

grid_memory_ledger& test_ledger() {
    static grid_memory_ledger ledger;
    return ledger;
}

yee_grid make_grid(std::uint64_t n) {
    return build_yee_grid({small_pages, n, 0.01}, test_ledger());
}

std::vector<field_cell> snapshot(const field_array& a) {
    return {a.cells(), a.cells() + a.count()};
}

bool same_bits(const field_cell& a, const field_cell& b) {
    return std::memcmp(&a, &b, sizeof(field_cell)) == 0;
}

bool same_bits(const field_array& a, const std::vector<field_cell>& b) {
    return std::memcmp(a.cells(), b.data(), a.count() * sizeof(field_cell)) == 0;
}

void fill_pseudo_random(field_array& a, std::uint64_t seed) {
    for (std::size_t n = 0; n < a.count(); ++n) {
        double* parts[] = {&a.cells()[n].x, &a.cells()[n].y, &a.cells()[n].z};
        for (double* p : parts) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            *p = static_cast<double>(seed >> 11) / 9007199254740992.0 - 0.5;
        }
    }
}

bool all_within(std::uint64_t i, std::uint64_t j, std::uint64_t k, std::uint64_t lo,
                std::uint64_t hi) {
    return i >= lo && i <= hi && j >= lo && j <= hi && k >= lo && k <= hi;
}

TEST(YeeKernels, CurlFreeFieldStaysBitForBitUnchanged) {
    standing_wave w(0, test_ledger());
    ASSERT_EQ(w.allocate_fields({small_pages, 64, 0.01}), std::nullopt);
    yee_grid& g = w.grid();
    for (std::uint64_t i = 0; i < g.e.dim(); ++i) {
        for (std::uint64_t j = 0; j < g.e.dim(); ++j) {
            for (std::uint64_t k = 0; k < g.e.dim(); ++k) {
                g.e.at(i, j, k).x = std::cos(0.3 * static_cast<double>(i)) + 0.01;
                g.e.at(i, j, k).y = std::sin(0.7 * static_cast<double>(j)) * 3.0;
            }
        }
    }
    const std::vector<field_cell> e0 = snapshot(g.e);
    const std::vector<field_cell> h0 = snapshot(g.h);
    for (int n = 0; n < 100; ++n) {
        ASSERT_EQ(w.step(), std::nullopt);
    }
    EXPECT_TRUE(same_bits(g.e, e0));
    EXPECT_TRUE(same_bits(g.h, h0));
}

TEST(YeeKernels, SingleImpulseInEzCurlsIntoFourHValues) {
    struct position {
        std::uint64_t i, j, k;
    };
    for (const position p : {position{10, 20, 30}, position{2, 63, 1}, position{63, 2, 63}}) {
        yee_grid g = make_grid(64);
        const double v = 0.75;
        g.e.at(p.i, p.j, p.k).z = v;
        ASSERT_TRUE(update_h(g));

        const double up = v * g.ch;
        const double down = -(v * g.ch);
        int nonzero = 0;
        for (std::uint64_t i = 0; i < g.h.dim(); ++i) {
            for (std::uint64_t j = 0; j < g.h.dim(); ++j) {
                for (std::uint64_t k = 0; k < g.h.dim(); ++k) {
                    const field_cell& c = g.h.at(i, j, k);
                    nonzero += (c.x != 0.0) + (c.y != 0.0) + (c.z != 0.0);
                }
            }
        }
        EXPECT_EQ(nonzero, 4) << p.i << ',' << p.j << ',' << p.k;
        EXPECT_EQ(g.h.at(p.i, p.j - 1, p.k).x, down);
        EXPECT_EQ(g.h.at(p.i, p.j, p.k).x, up);
        EXPECT_EQ(g.h.at(p.i - 1, p.j, p.k).y, up);
        EXPECT_EQ(g.h.at(p.i, p.j, p.k).y, down);
    }
}

TEST(YeeKernels, EachKernelWritesOnlyItsIndexRange) {
    yee_grid g = make_grid(64);
    fill_pseudo_random(g.e, 1);
    fill_pseudo_random(g.h, 2);
    const std::uint64_t dim = g.e.dim();

    const std::vector<field_cell> e0 = snapshot(g.e);
    const std::vector<field_cell> h0 = snapshot(g.h);
    ASSERT_TRUE(update_h(g));
    EXPECT_TRUE(same_bits(g.e, e0));
    std::uint64_t wrong = 0;
    for (std::uint64_t i = 0; i < dim; ++i) {
        for (std::uint64_t j = 0; j < dim; ++j) {
            for (std::uint64_t k = 0; k < dim; ++k) {
                const std::size_t n = cell_index(dim, i, j, k);
                wrong += same_bits(g.h.cells()[n], h0[n]) == all_within(i, j, k, 1, 63);
            }
        }
    }
    EXPECT_EQ(wrong, 0u) << "H cells changed outside 1..63 or unchanged inside";

    const std::vector<field_cell> h1 = snapshot(g.h);
    ASSERT_TRUE(update_e(g));
    EXPECT_TRUE(same_bits(g.h, h1));
    for (std::uint64_t i = 0; i < dim; ++i) {
        for (std::uint64_t j = 0; j < dim; ++j) {
            for (std::uint64_t k = 0; k < dim; ++k) {
                const std::size_t n = cell_index(dim, i, j, k);
                wrong += same_bits(g.e.cells()[n], e0[n]) == all_within(i, j, k, 2, 64);
            }
        }
    }
    EXPECT_EQ(wrong, 0u) << "E cells changed outside 2..64 or unchanged inside";
}

TEST(YeeKernels, EmptyInteriorFailsTheHStepAndLeavesE) {
    standing_wave w(7, test_ledger());
    ASSERT_EQ(w.allocate_fields({small_pages, 0, 0.01}), std::nullopt);
    fill_pseudo_random(w.grid().e, 3);
    const std::vector<field_cell> e0 = snapshot(w.grid().e);
    EXPECT_EQ(w.step(), "solver H step error in thread 7");
    EXPECT_TRUE(same_bits(w.grid().e, e0));
    EXPECT_FALSE(update_e(w.grid()));

    // The smallest interior has nothing to update but ends on its bounds.
    ASSERT_EQ(w.allocate_fields({small_pages, 1, 0.01}), std::nullopt);
    EXPECT_EQ(w.step(), std::nullopt);

    // A grid whose allocation failed is refused rather than walked.
    yee_grid empty;
    EXPECT_FALSE(update_h(empty));
    EXPECT_FALSE(update_e(empty));
}

}  // namespace
}  // namespace tavro
