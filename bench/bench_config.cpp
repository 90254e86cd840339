#include "bench/bench_config.h"

namespace tavro {

std::uint64_t grid_bytes_per_thread(std::uint64_t grid_size) {
    const std::uint64_t dim = grid_size + 2;
    return dim * dim * dim * 64;
}

}  // namespace tavro
