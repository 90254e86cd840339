#include "timing/timer_report.h"

#include <sstream>

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(TimerDiagnostics, EveryLineInOrder) {
    const timer_info fast{1'000'000'000, 2'400'000'000, timer_source::itsc};
    const timer_info coarse{1000, 250, timer_source::unknown};
    const tsc_info tsc{true, 2'112'000'000, 24'000'000};
    const cpu_identity cpu{" Intel(R) Core(TM) i7 ", cpu_vendor::intel, 6, 0x9E};
    EXPECT_EQ(format_timer_diagnostics(fast, coarse, tsc, cpu, true),
              "Fast timer: iTSC\n"
              "underlying frequency: 2.40 GHz\n"
              "report frequency: 1.00 GHz\n"
              "Coarse timer: \n"
              "underlying frequency: 250 Hz\n"
              "report frequency: 1.00 KHz\n"
              "\n"
              "tsc info:\n"
              "tsc: 2.11 GHz\n"
              "crystal: 24.00 MHz\n"
              "invariant: true\n"
              "\n"
              " Intel(R) Core(TM) i7 \n"
              "Intel detected\n"
              "detected family: 6 model: 9e\n"
              "\n"
              "Fast timer is hwbot compliant\n");
}

TEST(TimerDiagnostics, UnknownsAndTheRefusal) {
    const timer_info fast{1'000'000'000, -5, timer_source::unknown};
    const timer_info coarse{1000, 0, timer_source::unknown};
    const std::string amd =
        format_timer_diagnostics(fast, coarse, {}, {"AMD EPYC", cpu_vendor::amd, 0xF, 0x1}, false);
    EXPECT_NE(amd.find("Fast timer: unknown\nunderlying frequency: unknown\n"
                       "report frequency: 1.00 GHz\nCoarse timer: \nunderlying frequency: 0 Hz\n"),
              std::string::npos);
    EXPECT_NE(amd.find("tsc: 0 Hz\ncrystal: 0 Hz\ninvariant: false\n\nAMD EPYC\nAMD detected\n"
                       "detected family: f model: 1\n\n"),
              std::string::npos);
    const std::string tail =
        "Fast timer is not compliant with HWBOT rules\n"
        "Use --bypass-timer-check to run regardless if you are sure that this is a detection "
        "error in terms of your windows version, processor, or timer\n";
    EXPECT_EQ(amd.substr(amd.size() - tail.size()), tail);

    const std::string other =
        format_timer_diagnostics(fast, coarse, {}, {"", cpu_vendor::unknown, 0, 0}, true);
    EXPECT_NE(other.find("\n\n\nunknown vendor\ndetected family: 0 model: 0\n"), std::string::npos);
}

TEST(TimerDiagnostics, PrintsThisMachine) {
    std::ostringstream out;
    print_timer_diagnostics(out);
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("Fast timer: ", 0), 0u);
    EXPECT_NE(text.find("\nCoarse timer: \n"), std::string::npos);
    EXPECT_NE(text.find("report frequency: 1.00 KHz\n"), std::string::npos);
    const bool compliant = text.ends_with("\n\nFast timer is hwbot compliant\n");
    const bool refused =
        text.find("\n\nFast timer is not compliant with HWBOT rules\n") != std::string::npos;
    EXPECT_NE(compliant, refused) << text;
}

}  // namespace
}  // namespace tavro
