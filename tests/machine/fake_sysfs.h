#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/topology/topology.h"

namespace tavro::testing {

/// Root of the fake sysfs tree of one machine under tests/data/sysfs/.
inline std::filesystem::path fake_sysfs(const std::string& machine) {
    const char* data = std::getenv("TAVRO_TEST_DATA");
    return std::filesystem::path(data != nullptr ? data : "tests/data") / "sysfs" / machine;
}

/// A file tree in a fresh temporary directory, removed at the end; tests
/// write the few files a case needs into it.
class fake_root {
  public:
    fake_root() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("tavro-fake-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 "-" + std::to_string(counter++) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~fake_root() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    fake_root(const fake_root&) = delete;
    fake_root& operator=(const fake_root&) = delete;

    void write(const std::string& relative, const std::string& text) const {
        const std::filesystem::path file = path_ / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

/// The topology of a fake machine with every CPU below `cpu_limit` allowed.
inline cpu_topology fake_topology(const std::string& machine, std::uint32_t cpu_limit = 64) {
    std::vector<std::uint32_t> allowed(cpu_limit);
    std::iota(allowed.begin(), allowed.end(), 0u);
    return build_topology(read_sysfs_topology(fake_sysfs(machine), allowed));
}

/// The processor numbers of a slot list, in order.
inline std::vector<std::uint32_t> processors_of(const std::vector<logical_cpu>& slots) {
    std::vector<std::uint32_t> processors;
    for (const logical_cpu& cpu : slots) {
        processors.push_back(cpu.processor);
    }
    return processors;
}

}  // namespace tavro::testing
