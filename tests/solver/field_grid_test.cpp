#include "solver/field_grid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "solver/soft_gaussian.h"
#include "solver/standing_wave.h"
#include "solver/workload.h"

namespace tavro {
namespace {

const bool small_pages = false;
const bool huge_pages = true;

constexpr std::uint64_t grid64_array_bytes = 287496ull * 32;

TEST(YeeWorkload, GridNumbersForSize64) {
    grid_memory_ledger ledger;
    standing_wave w(0, ledger);
    EXPECT_FALSE(w.fields_allocated());
    ASSERT_EQ(w.allocate_fields({small_pages, 64, 0.01}), std::nullopt);
    const yee_grid& g = w.grid();
    EXPECT_EQ(g.e.dim(), 66u);
    EXPECT_EQ(g.h.dim(), 66u);
    EXPECT_EQ(g.e.count(), 287496u);
    EXPECT_EQ(g.h.count(), 287496u);
    EXPECT_EQ(ledger.live_bytes(), 18399744u);
    EXPECT_EQ(w.work_per_step(), 524288u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(g.e.cells()) % 64, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(g.h.cells()) % 64, 0u);
    EXPECT_EQ(&g.e.at(1, 2, 3), g.e.cells() + (1 * 66 + 2) * 66 + 3);
    EXPECT_EQ(g.dx, 0.01);
    EXPECT_EQ(g.dt, 0.01 * 0.5);
    EXPECT_EQ(g.ce, 0.5);
    EXPECT_EQ(g.ch, 0.5);
    EXPECT_EQ(g.e.at(65, 65, 65).z, 0.0);
    EXPECT_EQ(total_energy(g), 0.0);
}

// total_energy walks rows by pointer; its sum must be cell_energy's, added
// cell by cell in index order, to the bit.
TEST(TotalEnergy, IsTheInOrderSumOfCellEnergies) {
    grid_memory_ledger ledger;
    for (const std::uint64_t n : {0u, 1u, 2u, 3u, 6u, 17u}) {
        yee_grid g = build_yee_grid({small_pages, n, 0.01}, ledger);
        std::uint64_t seed = 7 + n;
        for (field_array* f : {&g.e, &g.h}) {
            for (std::size_t c = 0; c < f->count(); ++c) {
                for (double* v : {&f->cells()[c].x, &f->cells()[c].y, &f->cells()[c].z}) {
                    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
                    *v = static_cast<double>(seed >> 11) / 9007199254740992.0 - 0.5;
                }
            }
        }
        double sum = 0.0;
        for (std::uint64_t i = 2; i < n + 1; ++i) {
            for (std::uint64_t j = 2; j < n + 1; ++j) {
                for (std::uint64_t k = 2; k < n + 1; ++k) {
                    sum += cell_energy(g, i, j, k);
                }
            }
        }
        const double total = total_energy(g);
        EXPECT_EQ(std::memcmp(&total, &sum, sizeof sum), 0) << "N = " << n;
        EXPECT_EQ(total != 0.0, n >= 2) << "N = " << n;
    }
}

TEST(YeeWorkload, SecondAllocationReleasesTheFirst) {
    grid_memory_ledger ledger;
    soft_gaussian w(0, ledger);
    ASSERT_EQ(w.allocate_fields({small_pages, 64, 0.01}), std::nullopt);
    ASSERT_EQ(w.allocate_fields({small_pages, 32, 0.5}), std::nullopt);
    EXPECT_EQ(ledger.live_bytes(), 2u * 34 * 34 * 34 * 32);
    EXPECT_EQ(w.grid().e.dim(), 34u);
    EXPECT_EQ(w.grid().dt, 0.25);
    EXPECT_EQ(w.work_per_step(), 2u * 32 * 32 * 32);
}

TEST(YeeWorkload, GridTooLargeForTheMachineFailsCleanly) {
    // 8194^3 cells of 32 bytes are 17.6 TB per field: refused before any
    // memory is asked for, without the process dying.
    grid_memory_ledger ledger(available_physical_memory());
    standing_wave w(3, ledger);
    EXPECT_EQ(w.allocate_fields({small_pages, 8192, 0.01}), "field allocation failed");
    EXPECT_TRUE(w.fields_allocated());
    EXPECT_FALSE(w.grid().e.has_storage());
    EXPECT_EQ(w.grid().e.count(), 0u);
    EXPECT_FALSE(w.grid().h.has_storage());
    EXPECT_EQ(ledger.live_bytes(), 0u);

    // A size whose byte count wraps the address space.
    EXPECT_EQ(w.allocate_fields({small_pages, std::uint64_t{1} << 40, 0.01}),
              "field allocation failed");
}

TEST(YeeWorkload, SecondGridBeyondAvailableMemoryFails) {
    // Room for one grid and one more array: the second grid is refused as a
    // whole, before any of it is allocated and zero-filled.
    grid_memory_ledger ledger(3 * grid64_array_bytes);
    {
        standing_wave first(0, ledger);
        standing_wave second(1, ledger);
        ASSERT_EQ(first.allocate_fields({small_pages, 64, 0.01}), std::nullopt);
        EXPECT_EQ(second.allocate_fields({small_pages, 64, 0.01}), "field allocation failed");
        EXPECT_FALSE(second.grid().e.has_storage());
        EXPECT_FALSE(second.grid().h.has_storage());
        EXPECT_EQ(ledger.live_bytes(), 2 * grid64_array_bytes);
    }
    EXPECT_EQ(ledger.live_bytes(), 0u);

    // Once the first grid is gone the second fits.
    auto first = std::make_unique<soft_gaussian>(0, ledger);
    soft_gaussian second(1, ledger);
    ASSERT_EQ(first->allocate_fields({small_pages, 64, 0.01}), std::nullopt);
    EXPECT_EQ(second.allocate_fields({small_pages, 64, 0.01}), "field allocation failed");
    first.reset();
    EXPECT_EQ(second.allocate_fields({small_pages, 64, 0.01}), std::nullopt);
}

TEST(YeeWorkload, LargePagesWithoutAPoolFail) {
    std::ifstream pool("/proc/sys/vm/nr_hugepages");
    std::ifstream overcommit("/proc/sys/vm/nr_overcommit_hugepages");
    std::uint64_t pages = 0;
    std::uint64_t surplus = 0;
    pool >> pages;
    overcommit >> surplus;
    if (enable_large_pages() != 0 && (pages != 0 || surplus != 0)) {
        GTEST_SKIP() << "this machine has a huge-page pool";
    }
    grid_memory_ledger ledger;
    standing_wave w(0, ledger);
    EXPECT_EQ(w.allocate_fields({huge_pages, 64, 0.01}), "field allocation failed");
    EXPECT_TRUE(w.grid().e.large_pages());
    EXPECT_FALSE(w.grid().e.has_storage());
    EXPECT_EQ(ledger.live_bytes(), 0u);
}

TEST(MakeWorkload, NamesAreExactAndCaseSensitive) {
    EXPECT_NE(dynamic_cast<standing_wave*>(make_workload("standing_wave", 0).get()), nullptr);
    EXPECT_NE(dynamic_cast<soft_gaussian*>(make_workload("soft_gaussian", 0).get()), nullptr);
    EXPECT_NE(dynamic_cast<soft_gaussian*>(make_workload("soft_gaussian", 2, "avx2").get()),
              nullptr);
    EXPECT_EQ(make_workload("soft_gaussian", 7)->thread_index(), 7u);
    for (const char* name : {"Standing_Wave", "standing_wave ", "", " soft_gaussian",
                             "soft_gaussia", "standing_wave\n"}) {
        EXPECT_EQ(make_workload(name, 0), nullptr) << '"' << name << '"';
        EXPECT_EQ(make_workload(name, 0, "default_isa"), nullptr) << '"' << name << '"';
    }
}

}  // namespace
}  // namespace tavro
