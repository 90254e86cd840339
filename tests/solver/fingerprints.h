#pragma once

// The solver's physics fingerprints, shared by every architecture's tests:
// tests/data/solver/fingerprints.txt holds them as 16 hexadecimal digits of
// a 64-bit pattern, one "name value" line each. The scalar kernels without
// contraction must give these bits on x86-64, arm64, riscv64, ppc64el and
// s390x alike, big-endian included.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "solver/field_grid.h"

namespace tavro {

/// The value recorded under `name`; "missing" when there is none.
inline std::string recorded_fingerprint(const std::string& name) {
    const char* data = std::getenv("TAVRO_TEST_DATA");
    std::ifstream file(std::string(data ? data : "tests/data") + "/solver/fingerprints.txt");
    for (std::string key, value; file >> key;) {
        if (key.starts_with('#')) {
            std::getline(file, value);
        } else if (file >> value && key == name) {
            return value;
        }
    }
    return "missing";
}

inline std::string fingerprint_of(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return fmt::format("{:016x}", bits);
}

/// FNV-1a over the bit patterns of every E and then H component, cell by
/// cell, each pattern taken least significant byte first whatever the
/// machine's byte order.
inline std::string fingerprint_of(const yee_grid& grid) {
    std::uint64_t hash = 0xcbf2'9ce4'8422'2325u;
    for (const field_array* field : {&grid.e, &grid.h}) {
        for (std::size_t n = 0; n < field->count(); ++n) {
            const field_cell& cell = field->cells()[n];
            for (const double component : {cell.x, cell.y, cell.z}) {
                std::uint64_t bits = 0;
                std::memcpy(&bits, &component, sizeof bits);
                for (int byte = 0; byte < 8; ++byte) {
                    hash = (hash ^ ((bits >> (8 * byte)) & 0xffu)) * 0x100'0000'01b3u;
                }
            }
        }
    }
    return fmt::format("{:016x}", hash);
}

}  // namespace tavro
