#include "solver/standing_wave.h"

#include <fmt/printf.h>

#include <cassert>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "machine/cpu/fp_mode.h"
#include "solver/yee_kernels.h"

namespace tavro {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double node_tolerance = 1e-05;
constexpr std::uint64_t node_spacing = 16;
constexpr std::uint64_t first_node = 17;

// Modes along each axis: floor(N / 32).
std::uint64_t mode_number(std::uint64_t dim) {
    return (dim - 2) / 32;
}

// Sample nodes per axis: floor(N / 16) - 2. Wraps for N < 32, which the
// buffer size check then refuses.
std::uint64_t samples_per_axis(std::uint64_t dim) {
    return (dim - 2) / node_spacing - 2;
}

std::uint64_t node_coordinate(std::uint64_t a) {
    return node_spacing * a + first_node;
}

}  // namespace

standing_wave::~standing_wave() {
    validation_buffer_.reset();
    validation_count_ = 0;
}

error_text standing_wave::initialize() {
    set_flush_denormals_to_zero();
    yee_grid& g = grid();
    const std::uint64_t dim = g.e.dim();
    const double w = static_cast<double>(mode_number(dim)) * pi;
    const std::uint64_t end = dim - 1;
    if (end > 1) {
        // Ex depends on i alone and Ey on j alone: each sine is taken once
        // per plane or row, not per cell.
        const double span = static_cast<double>(end);
        for (std::uint64_t i = 1; i < end; ++i) {
            const double ai = static_cast<double>(i) * w;
            const double ex = std::sin(ai / span);
            for (std::uint64_t j = 1; j < end; ++j) {
                const double aj = static_cast<double>(j) * w;
                const double ey = std::sin(aj / span);
                field_cell* const cells = &g.e.at(i, j, 0);
                for (std::uint64_t k = 1; k < end; ++k) {
                    cells[k].x = ex;
                    cells[k].y = ey;
                    cells[k].z = 0.0;
                }
            }
        }
    }
    if (!update_h(g)) {
        return std::string("failed to initalize H field");
    }
    energy_init_ = total_energy(g);

    const std::uint64_t samples = samples_per_axis(dim);
    std::size_t count = 0;
    const auto a = static_cast<std::size_t>(samples);
    if (static_cast<std::uint64_t>(a) != samples || __builtin_mul_overflow(a, a, &count) ||
        __builtin_mul_overflow(count, a, &count) || count > SIZE_MAX / sizeof(double)) {
        return std::string("allocation failed for validation buffer");
    }
    validation_buffer_.reset(new (std::nothrow) double[count]);
    if (validation_buffer_ == nullptr) {
        validation_count_ = 0;
        return std::string("allocation failed for validation buffer");
    }
    validation_count_ = count;
    double* out = validation_buffer_.get();
    for (std::uint64_t ia = 0; ia < samples; ++ia) {
        for (std::uint64_t ib = 0; ib < samples; ++ib) {
            for (std::uint64_t ic = 0; ic < samples; ++ic) {
                *out++ =
                    cell_energy(g, node_coordinate(ia), node_coordinate(ib), node_coordinate(ic));
            }
        }
    }
    return std::nullopt;
}

error_text standing_wave::before_step(std::uint64_t /*iteration*/) {
    return std::nullopt;
}

error_text standing_wave::check_step(std::uint64_t /*iteration*/) {
    const yee_grid& g = grid();
    const std::uint64_t samples = samples_per_axis(g.e.dim());
    assert(samples * samples * samples == validation_count_);
    const double* expected = validation_buffer_.get();
    for (std::uint64_t ia = 0; ia < samples; ++ia) {
        for (std::uint64_t ib = 0; ib < samples; ++ib) {
            for (std::uint64_t ic = 0; ic < samples; ++ic) {
                const double init = *expected++;
                const double calc =
                    cell_energy(g, node_coordinate(ia), node_coordinate(ib), node_coordinate(ic));
                const double dev = std::fabs(init / calc - 1.0);
                if (std::isnan(dev) || dev > node_tolerance) {
                    return fmt::sprintf(
                        "\nnode verification failure in thread %u\ninit_val = %f\ncalc_val = "
                        "%f\nratio = %f",
                        thread_index(), init, calc, dev);
                }
            }
        }
    }
    return std::nullopt;
}

error_text standing_wave::validate(std::uint64_t /*iterations*/) {
    return check_standing_wave_energy(thread_index(), energy_init_, total_energy(grid()));
}

error_text check_standing_wave_energy(std::uint32_t thread_index, double energy_init,
                                      double energy_calc) {
    const double ratio = energy_init / energy_calc;
    if (!std::isnan(ratio) && !std::isinf(ratio) && std::fabs(ratio - 1.0) < 0.1) {
        return std::nullopt;
    }
    return fmt::sprintf(
        "\nenergy ratio failure in thread %u\nenergy_init = %f\nenergy_calc = %f\nratio = %f",
        thread_index, energy_init, energy_calc, ratio);
}

}  // namespace tavro
