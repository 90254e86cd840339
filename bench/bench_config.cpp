#include "bench/bench_config.h"

#include <algorithm>

namespace tavro {

bool is_allowed_grid_size(std::uint64_t grid_size) {
    return std::find(allowed_grid_sizes.begin(), allowed_grid_sizes.end(), grid_size) !=
           allowed_grid_sizes.end();
}

std::uint64_t grid_bytes_per_thread(std::uint64_t grid_size) {
    const std::uint64_t dim = grid_size + 2;
    return dim * dim * dim * 64;
}

}  // namespace tavro
