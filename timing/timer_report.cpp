#include "timing/timer_report.h"

#include <fmt/format.h>

#include "console/text_format.h"
#include "timing/compliance.h"

namespace tavro {

namespace {

// A rate is never negative in practice; a negative one shows as 0 Hz rather
// than as an enormous unsigned value.
std::string format_hz(std::int64_t hz) {
    return format_si(hz > 0 ? static_cast<std::uint64_t>(hz) : 0, "Hz");
}

void append_frequencies(std::string& text, const timer_info& info, std::string_view underlying) {
    text += fmt::format("underlying frequency: {}\n", underlying);
    text += fmt::format("report frequency: {}\n", format_hz(info.report_hz));
}

std::string_view vendor_line(cpu_vendor vendor) {
    switch (vendor) {
        case cpu_vendor::intel:
            return "Intel detected";
        case cpu_vendor::amd:
            return "AMD detected";
        case cpu_vendor::unknown:
            break;
    }
    return "unknown vendor";
}

}  // namespace

std::string format_timer_diagnostics(const timer_info& fast, const timer_info& coarse,
                                     const tsc_info& tsc, const cpu_identity& cpu, bool compliant) {
    std::string text = fmt::format("Fast timer: {}\n", timer_source_name(fast.source));
    // The fast timer's hardware rate is 0 where the system does not tell it
    // (an HPET whose rate only root may read): said so, rather than "0 Hz".
    append_frequencies(text, fast,
                       fast.underlying_hz > 0 ? format_hz(fast.underlying_hz) : "unknown");
    text += "Coarse timer: \n";
    append_frequencies(text, coarse, format_hz(coarse.underlying_hz));
    text += "\ntsc info:\n";
    text += fmt::format("tsc: {}\n", format_si(tsc.tsc_hz, "Hz"));
    text += fmt::format("crystal: {}\n", format_si(tsc.crystal_hz, "Hz"));
    text += fmt::format("invariant: {}\n\n", tsc.invariant);
    text += fmt::format("{}\n{}\n", cpu.brand, vendor_line(cpu.vendor));
    text += fmt::format("detected family: {:x} model: {:x}\n\n", cpu.family, cpu.model);
    if (compliant) {
        text += "Fast timer is hwbot compliant\n";
    } else {
        text +=
            "Fast timer is not compliant with HWBOT rules\n"
            "Use --bypass-timer-check to run regardless if you are sure that this is a "
            "detection error in terms of your windows version, processor, or timer\n";
    }
    return text;
}

void print_timer_diagnostics(std::ostream& out) {
    const timer_info fast = fast_timer::info();
    const timer_info coarse = coarse_timer::info();
    const tsc_info tsc = read_tsc_info();
    const cpu_identity cpu = read_cpu_identity();
    const bool compliant = fast_timer_is_compliant(fast);
    out << format_timer_diagnostics(fast, coarse, tsc, cpu, compliant) << std::flush;
}

}  // namespace tavro
