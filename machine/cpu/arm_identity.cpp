#include "machine/cpu/arm_identity.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <system_error>

#include <fmt/format.h>

#include "machine/text_file.h"
#include "machine/topology/topology.h"

namespace tavro {

namespace {

struct vendor_row {
    std::uint32_t implementer;
    std::string_view name;
};

struct part_row {
    std::uint32_t implementer;
    std::uint32_t part;
    std::string_view name;
};

struct soc_vendor_row {
    std::string_view match;
    std::string_view vendor;
};

// Generated at configure time from machine/cpu/arm64-cpu-names.tsv and
// machine/cpu/arm64-soc-vendors.tsv by machine/CMakeLists.txt:
// arm_vendor_rows, arm_part_rows, jep106_vendor_rows and soc_family_rows.
#include "arm_cpu_names.inc"
#include "arm_soc_vendors.inc"

std::optional<std::uint64_t> parse_hex(std::string_view text) {
    text = trim_blanks(text);
    if (!text.starts_with("0x") && !text.starts_with("0X")) {
        return std::nullopt;
    }
    text.remove_prefix(2);
    std::uint64_t value = 0;
    const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc{} || next != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The vendor as shown: its name, or its code when the table lacks it.
std::string vendor_text(std::uint32_t implementer) {
    const std::string_view name = arm_vendor_name(implementer);
    return name.empty() ? fmt::format("implementer 0x{:02x}", implementer) : std::string(name);
}

std::string part_text(const midr_code& code) {
    const std::string_view name = arm_part_name(code);
    return name.empty() ? fmt::format("part 0x{:03x}", code.part) : std::string(name);
}

}  // namespace

midr_code decode_midr(std::uint64_t midr) {
    return {.implementer = static_cast<std::uint32_t>((midr >> 24) & 0xFF),
            .part = static_cast<std::uint32_t>((midr >> 4) & 0xFFF)};
}

std::string_view arm_vendor_name(std::uint32_t implementer) {
    for (const vendor_row& row : arm_vendor_rows) {
        if (row.implementer == implementer) {
            return row.name;
        }
    }
    return {};
}

std::string_view arm_part_name(const midr_code& code) {
    for (const part_row& row : arm_part_rows) {
        if (row.implementer == code.implementer && row.part == code.part) {
            return row.name;
        }
    }
    return {};
}

std::optional<std::uint64_t> parse_midr_text(std::string_view text) {
    return parse_hex(text);
}

std::vector<midr_code> parse_cpuinfo_midrs(std::string_view cpuinfo) {
    // A value out of a field's range stands for a missing or malformed line.
    constexpr std::uint64_t missing = ~std::uint64_t{0};
    std::vector<midr_code> cores;
    std::uint64_t implementer = missing;
    std::uint64_t part = missing;
    const auto end_processor = [&] {
        if (implementer <= 0xFF && part <= 0xFFF) {
            cores.push_back(
                {static_cast<std::uint32_t>(implementer), static_cast<std::uint32_t>(part)});
        }
        implementer = missing;
        part = missing;
    };
    while (!cpuinfo.empty()) {
        const std::size_t line_end = std::min(cpuinfo.find('\n'), cpuinfo.size());
        const std::string_view line = cpuinfo.substr(0, line_end);
        cpuinfo.remove_prefix(std::min(line_end + 1, cpuinfo.size()));
        const std::size_t colon = line.find(':');
        const std::string_view key = trim_blanks(line.substr(0, colon));
        const std::string_view value =
            colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
        // Each processor's lines start with its "processor" line.
        if (key == "processor") {
            end_processor();
        } else if (key == "CPU implementer") {
            implementer = parse_hex(value).value_or(missing);
        } else if (key == "CPU part") {
            part = parse_hex(value).value_or(missing);
        }
    }
    end_processor();
    return cores;
}

std::vector<midr_code> read_sysfs_midrs(const std::filesystem::path& root) {
    const std::filesystem::path cpu_dir = root / "devices/system/cpu";
    const auto online_text = read_text_file(cpu_dir / "online");
    const auto online = online_text ? parse_cpu_list(*online_text) : std::nullopt;
    std::vector<midr_code> cores;
    for (const std::uint32_t cpu : online.value_or(std::vector<std::uint32_t>{})) {
        const auto text = read_text_file(cpu_dir / ("cpu" + std::to_string(cpu)) /
                                         "regs/identification/midr_el1");
        if (const auto midr = text ? parse_midr_text(*text) : std::nullopt) {
            cores.push_back(decode_midr(*midr));
        }
    }
    return cores;
}

std::string_view soc_vendor_name(std::string_view family, std::string_view soc_id) {
    family = trim_blanks(family);
    soc_id = trim_blanks(soc_id);
    const std::string_view coded = family.empty() ? soc_id : family;
    constexpr std::string_view jep106 = "jep106:";
    if (coded.starts_with(jep106)) {
        // Bank and code as four hexadecimal digits; the kernel writes them
        // in lower case.
        std::string code(coded.substr(jep106.size(), 4));
        for (char& c : code) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        for (const soc_vendor_row& row : jep106_vendor_rows) {
            if (row.match == code) {
                return row.vendor;
            }
        }
        return {};
    }
    for (const soc_vendor_row& row : soc_family_rows) {
        if (!family.empty() && family.starts_with(row.match)) {
            return row.vendor;
        }
    }
    return {};
}

std::string_view read_soc_vendor(const std::filesystem::path& root) {
    const std::filesystem::path soc = root / "devices/soc0";
    return soc_vendor_name(read_text_file(soc / "family").value_or(""),
                           read_text_file(soc / "soc_id").value_or(""));
}

std::string arm_processor_name(std::span<const midr_code> cores, std::string_view soc_vendor) {
    std::vector<midr_code> types;
    for (const midr_code& core : cores) {
        if (std::find(types.begin(), types.end(), core) == types.end()) {
            types.push_back(core);
        }
    }
    if (types.empty()) {
        return "unknown 64-bit Arm processor";
    }
    std::string name;
    bool soc_vendor_named = soc_vendor.empty();
    for (std::size_t i = 0; i < types.size(); ++i) {
        if (i > 0) {
            name += " + ";
        }
        if (i == 0 || types[i].implementer != types[i - 1].implementer) {
            const std::string vendor = vendor_text(types[i].implementer);
            soc_vendor_named = soc_vendor_named || vendor == soc_vendor;
            name += vendor + " ";
        }
        name += part_text(types[i]);
    }
    return soc_vendor_named ? name : fmt::format("{} SoC with {}", soc_vendor, name);
}

cpu_identity arm_cpu_identity(std::string brand, std::span<const midr_code> cores) {
    cpu_identity identity;
    identity.brand = std::move(brand);
    if (!cores.empty()) {
        identity.family = cores.front().implementer;
        identity.model = cores.front().part;
    }
    return identity;
}

}  // namespace tavro
