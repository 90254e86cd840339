#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavro {

/// The settings of one benchmark run. A plain value, copied freely: the
/// harness copies it and changes one field per planned run.
struct bench_config {
    /// Worker threads; 0 picks the count automatically.
    std::uint32_t threads = 0;
    /// Length of the timed loop in seconds; a run clamps it to 1..1000.
    std::uint32_t duration_s = 30;
    /// Edge N of each thread's N x N x N grid.
    std::uint64_t grid_size = 192;
    /// Placement manager: "numa", "phte", or anything else for none.
    std::string threading = "os";
    std::string workload_name = "standing_wave";
    std::string isa_name = "default_isa";
    bool strict_isa = false;
    bool large_pages = false;
    bool bypass_timer_check = false;
};

/// The grid edges a run accepts, smallest first.
inline constexpr std::array<std::uint64_t, 14> allowed_grid_sizes = {
    64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192};

/// `allowed_grid_sizes` joined by ", ", as shown in messages and the help.
inline constexpr std::string_view allowed_grid_sizes_text =
    "64, 128, 192, 256, 320, 384, 448, 512, 640, 768, 1024, 2048, 4096, 8192";

/// Whether `grid_size` is one of `allowed_grid_sizes`.
bool is_allowed_grid_size(std::uint64_t grid_size);

/// Bytes of one thread's two field arrays: 64 x (N + 2)^3, wrapping on overflow.
std::uint64_t grid_bytes_per_thread(std::uint64_t grid_size);

}  // namespace tavro
