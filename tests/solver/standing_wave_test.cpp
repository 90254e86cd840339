#include "solver/standing_wave.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/solver/fingerprints.h"

namespace tavro {
namespace {

const bool small_pages = false;

grid_memory_ledger& test_ledger() {
    static grid_memory_ledger ledger;
    return ledger;
}

void zero_fields(yee_grid& g) {
    std::memset(static_cast<void*>(g.e.cells()), 0, g.e.count() * sizeof(field_cell));
    std::memset(static_cast<void*>(g.h.cells()), 0, g.h.count() * sizeof(field_cell));
}

class StandingWave : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(wave.allocate_fields({small_pages, 64, 0.01}), std::nullopt);
        ASSERT_EQ(wave.initialize(), std::nullopt);
    }
    standing_wave wave{5, test_ledger()};
};

TEST_F(StandingWave, InitialFieldIsASineWithZeroH) {
    const yee_grid& g = wave.grid();
    for (std::uint64_t i : {1u, 17u, 40u, 64u}) {
        const double expected = std::sin(2.0 * 3.141592653589793 * static_cast<double>(i) / 65.0);
        EXPECT_NEAR(g.e.at(i, 3, 9).x, expected, 1e-15);
        EXPECT_NEAR(g.e.at(9, i, 3).y, expected, 1e-15);
        EXPECT_EQ(g.e.at(i, 3, 9).z, 0.0);
    }
    EXPECT_EQ(g.e.at(0, 3, 9).x, 0.0);
    EXPECT_EQ(g.e.at(65, 3, 9).x, 0.0);
    EXPECT_EQ(g.e.at(3, 3, 65).y, 0.0);
    for (std::size_t n = 0; n < g.h.count(); ++n) {
        ASSERT_EQ(g.h.cells()[n].x, 0.0);
        ASSERT_EQ(g.h.cells()[n].y, 0.0);
        ASSERT_EQ(g.h.cells()[n].z, 0.0);
    }
    EXPECT_EQ(wave.energy_init(), total_energy(g));
    // The same bits on every build and platform: the sines of the start field
    // and the energy sum over them. Should the energy ever differ, the
    // message says whether the library's sine gives other bits as well.
    std::uint64_t sine_bits = 0;
    for (std::uint64_t i = 1; i <= 64; ++i) {
        const double ai = static_cast<double>(i) * (2.0 * 3.141592653589793);
        sine_bits += std::bit_cast<std::uint64_t>(std::sin(ai / 65.0));
    }
    EXPECT_EQ(fingerprint_of(wave.energy_init()), recorded_fingerprint("standing_wave.energy_init"))
        << (sine_bits == 0xf82c7f770c615fcau ? "" : "; std::sin gives other bits too");
}

TEST_F(StandingWave, NodesStayExactOverManySteps) {
    for (std::uint64_t n = 0; n < 100; ++n) {
        ASSERT_EQ(wave.before_step(n), std::nullopt);
        ASSERT_EQ(wave.step(), std::nullopt);
        ASSERT_EQ(wave.check_step(n), std::nullopt) << "step " << n;
    }
    EXPECT_EQ(total_energy(wave.grid()), wave.energy_init());
    EXPECT_EQ(wave.validate(100), std::nullopt);
    EXPECT_EQ(fingerprint_of(wave.grid()), recorded_fingerprint("standing_wave.grid"));
}

TEST_F(StandingWave, FirstDisturbedNodeFailsWithItsValues) {
    yee_grid& g = wave.grid();
    // A tiny disturbance stays within the tolerance.
    g.e.at(17, 17, 17).x *= 1.0 + 1e-9;
    EXPECT_EQ(wave.check_step(0), std::nullopt);
    // Node (a, b, c) = (1, 0, 1) comes after (0, 1, 0) in the check order.
    g.e.at(33, 17, 33).y *= 1.5;
    g.e.at(17, 33, 17).x *= 1.00001;
    EXPECT_EQ(wave.check_step(0),
              "\nnode verification failure in thread 5\ninit_val = 0.000000\ncalc_val = "
              "0.000000\nratio = 0.000020");
    g.e.at(17, 33, 17).x = std::numeric_limits<double>::quiet_NaN();
    const error_text nan_failure = wave.check_step(0);
    ASSERT_TRUE(nan_failure.has_value());
    EXPECT_NE(nan_failure->find("calc_val = nan"), std::string::npos) << *nan_failure;
}

TEST_F(StandingWave, AllZeroGridFailsBothChecks) {
    zero_fields(wave.grid());
    const error_text node = wave.check_step(0);
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->rfind("\nnode verification failure in thread 5\ninit_val = 0.0000", 0), 0u)
        << *node;
    EXPECT_EQ(wave.validate(0),
              "\nenergy ratio failure in thread 5\nenergy_init = 0.128956\nenergy_calc = "
              "0.000000\nratio = inf");
}

TEST(StandingWaveEnergy, PassesStrictlyInsideTenPercent) {
    EXPECT_EQ(check_standing_wave_energy(3, 1.0999, 1.0), std::nullopt);
    EXPECT_EQ(check_standing_wave_energy(3, 0.9, 1.0), std::nullopt);
    EXPECT_EQ(check_standing_wave_energy(3, 1.1, 1.0),
              "\nenergy ratio failure in thread 3\nenergy_init = 1.100000\nenergy_calc = "
              "1.000000\nratio = 1.100000");
    EXPECT_NE(check_standing_wave_energy(3, 0.89, 1.0), std::nullopt);
    EXPECT_NE(check_standing_wave_energy(3, 0.0, 0.0), std::nullopt);
    EXPECT_NE(check_standing_wave_energy(3, 1.0, 0.0), std::nullopt);
}

TEST(StandingWaveInitialize, ReportsGridsItCannotCheck) {
    standing_wave empty(2, test_ledger());
    ASSERT_EQ(empty.allocate_fields({small_pages, 0, 0.01}), std::nullopt);
    EXPECT_EQ(empty.initialize(), "failed to initalize H field");
    EXPECT_EQ(empty.energy_init(), 0.0);

    // Below 32 cells per axis there is no lattice of sample nodes.
    standing_wave small(2, test_ledger());
    ASSERT_EQ(small.allocate_fields({small_pages, 16, 0.01}), std::nullopt);
    EXPECT_EQ(small.initialize(), "allocation failed for validation buffer");
}

}  // namespace
}  // namespace tavro
