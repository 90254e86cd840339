#include <iostream>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/output_check.h"
#include "bench/driver.h"
#include "console/banner.h"
#include "harness/harness_runner.h"
#include "machine/topology/topology.h"
#include "solver/workload.h"
#include "timing/timer_report.h"

namespace {

// Every line is flushed as it is written, so the output interleaves
// correctly with the error stream and survives an abrupt end.
void write_lines(std::ostream& out, std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        out << text.substr(0, end) << std::endl;
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
}

std::optional<double> run_benchmark(tavro::bench_config config, tavro::topology_cache& topology) {
    return tavro::run_benchmark(std::move(config), topology);
}

bool workload_name_known(const std::string& name) {
    return tavro::make_workload(name, 0) != nullptr;
}

int run_program(int argc, char** argv) {
    tavro::topology_cache topology;
    const tavro::command_decision decision =
        tavro::interpret_command_line(tavro::make_argument_list(argc, argv), workload_name_known);
    switch (decision.action) {
        case tavro::command_action::fail:
            std::cerr << decision.text << std::endl;
            return tavro::exit_code_of(decision);
        case tavro::command_action::play_banner:
            tavro::play_banner();
            return 0;
        case tavro::command_action::print_help:
            write_lines(std::cout, decision.text);
            return 0;
        case tavro::command_action::topo_debug:
            tavro::print_topology(tavro::ensure_topology(topology), std::cout);
            std::cout.flush();
            return 0;
        case tavro::command_action::timer_debug:
            tavro::print_timer_diagnostics(std::cout);
            return 0;
        case tavro::command_action::run:
            break;
    }
    tavro::bench_config config = decision.config;
    tavro::harness_settings harness = decision.harness;
    const tavro::tavro_harness_context context{config, topology, &run_benchmark};
    tavro::run_harness(harness, context, std::cout, std::cerr);
    std::cout << "press enter to exit" << std::endl;
    std::cin.get();
    return 0;
}

}  // namespace

// Every write to standard output goes through a recorder, so that output lost
// to a full device or a closed stream ends the program with exit code 2 and
// one message instead of passing for success.
int main(int argc, char** argv) {
    tavro::write_error_recorder stdout_recorder(std::cout.rdbuf());
    std::cout.rdbuf(&stdout_recorder);
    const int exit_code = run_program(argc, argv);
    const int final_code = tavro::finish_output(std::cout, stdout_recorder, std::cerr, exit_code);
    std::cout.rdbuf(stdout_recorder.target());
    return final_code;
}
