#include "app/command_line.h"

#include <cstddef>
#include <sstream>

#include "app/options.h"

namespace tavro {

namespace {

command_decision failure(std::string message) {
    command_decision decision;
    decision.action = command_action::fail;
    decision.text = std::move(message);
    return decision;
}

std::string help_text(const option_parser& parser) {
    std::ostringstream out;
    parser.render_help(out);
    out << '\n';
    print_grid_size_table(out);
    out << "Memory is per worker thread: a run needs the amount shown times its thread count.\n";
    return out.str();
}

command_action chosen_action(const command_flags& flags) {
    if (flags.show_help) {
        return command_action::print_help;
    }
    if (flags.topo_debug) {
        return command_action::topo_debug;
    }
    if (flags.timer_debug) {
        return command_action::timer_debug;
    }
    return command_action::run;
}

}  // namespace

argument_list make_argument_list(int argc, const char* const* argv) {
    argument_list arguments;
    if (argv == nullptr || argc < 1 || argv[0] == nullptr) {
        return arguments;
    }
    arguments.program_name = argv[0];
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        arguments.words.emplace_back(argv[i]);
    }
    return arguments;
}

command_decision interpret_command_line(const argument_list& arguments,
                                        const workload_name_check& workload_known) {
    command_decision decision;
    command_flags flags;
    option_parser parser = make_option_parser(decision.config, flags, decision.harness);
    if (error_text message = parser.parse(arguments)) {
        return failure(std::move(*message));
    }
    if (flags.show_banner) {
        decision.action = command_action::play_banner;
        return decision;
    }
    const std::uint64_t grid_size = decision.config.grid_size;
    if (!is_allowed_grid_size(grid_size)) {
        return failure(fmt::format("Invalid size '{}', must be one of: {}", grid_size,
                                   allowed_grid_sizes_text));
    }
    if (!workload_known(decision.config.workload_name)) {
        return failure(fmt::format("Invalid workload name '{}', must be one of: {}",
                                   decision.config.workload_name, workload_names_text));
    }
    decision.action = chosen_action(flags);
    if (decision.action == command_action::print_help) {
        decision.text = help_text(parser);
    }
    if (decision.action != command_action::run) {
        return decision;
    }
    if (error_text message = check_grid_arithmetic<std::size_t>(grid_size)) {
        return failure(std::move(*message));
    }
    return decision;
}

}  // namespace tavro
