#include "app/option_parser.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <ostream>
#include <system_error>
#include <type_traits>

#include <fmt/format.h>

namespace tavro {

namespace {

constexpr std::string_view delimiters = "= ";

// The text a value option shows as its default: numbers in decimal,
// strings as they are, nothing for flags.
std::string current_value_text(const option_binding& binding) {
    return std::visit(
        [](auto* target) -> std::string {
            using value_type = std::remove_pointer_t<decltype(target)>;
            if constexpr (std::is_same_v<value_type, bool>) {
                return {};
            } else if constexpr (std::is_same_v<value_type, std::string>) {
                return *target;
            } else {
                return fmt::format("{}", *target);
            }
        },
        binding);
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i != 0) {
            joined += separator;
        }
        joined += parts[i];
    }
    return joined;
}

}  // namespace

option_spec::option_spec(option_binding binding, std::string_view value_name)
    : binding_(binding), value_name_(value_name) {
    const std::string current = current_value_text(binding_);
    if (!current.empty()) {
        description_ = fmt::format("[default: {}]", current);
    }
}

option_spec::option_spec(std::uint32_t& target, std::string_view value_name)
    : option_spec(option_binding{&target}, value_name) {}

option_spec::option_spec(std::uint64_t& target, std::string_view value_name)
    : option_spec(option_binding{&target}, value_name) {}

option_spec::option_spec(std::string& target, std::string_view value_name)
    : option_spec(option_binding{&target}, value_name) {}

option_spec::option_spec(bool& target) : option_spec(option_binding{&target}, {}) {}

option_spec option_spec::help_option(bool& target) {
    option_spec help(target);
    help.add_name("-?").add_name("-h").add_name("--help");
    help.general_description_ = "Display usage information.";
    help.ends_parse_ = true;
    return help;
}

option_spec& option_spec::add_name(std::string_view name) {
    if (name.size() > 2 && name[0] == '-' && name[1] != '-') {
        for (const char letter : name.substr(1)) {
            names_.push_back(std::string{'-', letter});
        }
    } else {
        names_.emplace_back(name);
    }
    return *this;
}

option_spec& option_spec::set_help(std::string_view text) {
    description_ =
        description_.empty() ? std::string(text) : fmt::format("{} {}", text, description_);
    return *this;
}

option_spec& option_spec::set_choices(std::vector<std::string> choices) {
    choices_ = std::move(choices);
    return *this;
}

option_spec& option_spec::set_occurrences(std::size_t min_count, std::size_t max_count) {
    min_count_ = min_count;
    max_count_ = max_count;
    return *this;
}

bool option_spec::has_name(std::string_view name) const {
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

std::string option_spec::usage_text() const {
    std::string text = join(names_, "|");
    if (!value_name_.empty()) {
        text += fmt::format(" <{}>", value_name_);
    }
    return text;
}

std::string option_spec::usage_item() const {
    return min_count_ == 0 ? fmt::format("[{}]", usage_text()) : usage_text();
}

std::string option_spec::listing_text() const {
    std::string text = join(names_, ", ");
    if (!value_name_.empty()) {
        text += fmt::format(" <{}>", value_name_);
    }
    return text;
}

error_text option_spec::definition_error() const {
    if (names_.empty()) {
        return "No options supplied to opt";
    }
    if (is_flag() && !choices_.empty()) {
        return "Flag options cannot contain choices.";
    }
    for (const std::string& name : names_) {
        if (name.empty()) {
            return "Option name cannot be empty";
        }
        if (name[0] != '-') {
            return "Option name must begin with '-'";
        }
    }
    return std::nullopt;
}

void help_printer::heading(std::string_view text) {
    out_ << text << '\n';
}

void help_printer::paragraph(std::string_view text) {
    out_ << std::string(level_ * 2, ' ') << text << "\n\n";
}

void help_printer::option_line(std::string_view left, std::string_view description) {
    const std::string indent(level_ * 2, ' ');
    const std::size_t pad_width =
        indent.size() < option_column_width ? option_column_width - indent.size() : 0;
    if (left.size() > pad_width) {
        out_ << indent << left << '\n' << indent << std::string(pad_width, ' ');
    } else {
        out_ << indent << left << std::string(pad_width - left.size(), ' ');
    }
    out_ << ' ' << description << '\n';
}

namespace {

enum class word_kind { long_option, short_option, plain };

word_kind classify(std::string_view word) {
    if (word.size() >= 3 && word[0] == '-' && word[1] == '-' && word[2] != '-') {
        return word_kind::long_option;
    }
    if (word.size() >= 2 && word[0] == '-' && word[1] != '-') {
        return word_kind::short_option;
    }
    return word_kind::plain;
}

// Where the parse stands: a word, and inside a short option word the
// character that names the option on offer (several short flags may share
// one word).
struct cursor {
    std::size_t word = 0;
    std::size_t position = 1;
};

std::string option_name(std::string_view word, word_kind kind, std::size_t position) {
    if (kind == word_kind::long_option) {
        return std::string(word.substr(0, word.find_first_of(delimiters)));
    }
    return std::string{'-', word[position]};
}

struct found_value {
    std::string text;
    // Words used up by the option and its value: 1 when the value sat
    // inside the option word, 2 when it was the next word.
    std::size_t words_used = 1;
};

std::optional<found_value> find_value(const std::vector<std::string>& words, cursor at,
                                      word_kind kind) {
    const std::string& word = words[at.word];
    const std::size_t delimiter = word.find_first_of(delimiters);
    if (kind == word_kind::short_option && delimiter == 2) {
        return found_value{word.substr(3), 1};
    }
    if (kind == word_kind::long_option && delimiter != std::string::npos) {
        return found_value{word.substr(delimiter + 1), 1};
    }
    if (kind == word_kind::short_option && at.position + 1 < word.size()) {
        return found_value{word.substr(at.position + 1), 1};
    }
    if (at.word + 1 < words.size()) {
        return found_value{words[at.word + 1], 2};
    }
    return std::nullopt;
}

template <typename unsigned_type>
bool convert_unsigned(std::string_view text, unsigned_type& target) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    unsigned_type value{};
    const char* const end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) {
        return false;
    }
    target = value;
    return true;
}

bool store_value(const option_binding& binding, const std::string& text) {
    return std::visit(
        [&text](auto* target) {
            using value_type = std::remove_pointer_t<decltype(target)>;
            if constexpr (std::is_same_v<value_type, bool>) {
                return false;
            } else if constexpr (std::is_same_v<value_type, std::string>) {
                *target = text;
                return true;
            } else {
                return convert_unsigned(text, *target);
            }
        },
        binding);
}

struct offer_result {
    enum class kind { no_match, consumed, soft_failure, hard_failure };
    kind outcome = kind::no_match;
    std::string message;
    cursor next;
    bool stop_parse = false;
};

offer_result soft_failure(std::string message) {
    return {offer_result::kind::soft_failure, std::move(message), {}, false};
}

offer_result hard_failure(std::string message) {
    return {offer_result::kind::hard_failure, std::move(message), {}, false};
}

offer_result consumed(cursor next, bool stop_parse = false) {
    return {offer_result::kind::consumed, {}, next, stop_parse};
}

offer_result offer_flag(const option_spec& option, const std::vector<std::string>& words, cursor at,
                        word_kind kind, const std::string& name) {
    const std::string& word = words[at.word];
    if (word.find_first_of(delimiters) != std::string::npos) {
        const auto value = find_value(words, at, kind);
        return hard_failure(fmt::format("Flag option '{}' contains value '{}'.", name,
                                        value ? value->text : std::string{}));
    }
    *std::get<bool*>(option.binding()) = true;
    if (kind == word_kind::short_option && at.position + 1 < word.size()) {
        return consumed({at.word, at.position + 1}, option.ends_parse());
    }
    return consumed({at.word + 1, 1}, option.ends_parse());
}

offer_result offer_value(const option_spec& option, const std::vector<std::string>& words,
                         cursor at, word_kind kind, const std::string& name) {
    const auto value = find_value(words, at, kind);
    if (!value) {
        return soft_failure("Expected argument following " + name);
    }
    const auto& choices = option.choices();
    if (!choices.empty() &&
        std::find(choices.begin(), choices.end(), value->text) == choices.end()) {
        return soft_failure(fmt::format("Value '{}' not expected. Allowed values are: {}",
                                        value->text, join(choices, ", ")));
    }
    if (!store_value(option.binding(), value->text)) {
        return hard_failure(fmt::format("Unable to convert '{}' to destination type", value->text));
    }
    return consumed({at.word + value->words_used, 1});
}

offer_result offer(const option_spec& option, const std::vector<std::string>& words, cursor at) {
    if (error_text broken = option.definition_error()) {
        return soft_failure(std::move(*broken));
    }
    const std::string& word = words[at.word];
    const word_kind kind = classify(word);
    if (kind == word_kind::plain) {
        return {};
    }
    const std::string name = option_name(word, kind, at.position);
    if (!option.has_name(name)) {
        return {};
    }
    return option.is_flag() ? offer_flag(option, words, at, kind, name)
                            : offer_value(option, words, at, kind, name);
}

std::string base_name(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

option_parser& option_parser::add(const option_spec& option) {
    options_.push_back(option);
    return *this;
}

error_text option_parser::parse(const argument_list& arguments) {
    program_name_ = base_name(arguments.program_name);
    if (mode_ != "any" && mode_ != "sequence" && mode_ != "relaxed") {
        return "Unknown evaluation mode; not one of 'any', 'sequence', or 'relaxed'.";
    }
    const std::vector<std::string>& words = arguments.words;
    std::vector<std::size_t> counts(options_.size(), 0);
    cursor at;
    while (at.word < words.size()) {
        error_text soft;
        bool taken = false;
        for (std::size_t i = 0; i < options_.size() && !taken; ++i) {
            if (counts[i] >= options_[i].max_count()) {
                continue;
            }
            offer_result result = offer(options_[i], words, at);
            switch (result.outcome) {
                case offer_result::kind::no_match:
                    break;
                case offer_result::kind::soft_failure:
                    if (!soft) {
                        soft = std::move(result.message);
                    }
                    break;
                case offer_result::kind::hard_failure:
                    return std::move(result.message);
                case offer_result::kind::consumed:
                    if (result.stop_parse) {
                        return std::nullopt;
                    }
                    ++counts[i];
                    at = result.next;
                    taken = true;
                    break;
            }
        }
        if (!taken) {
            if (soft) {
                return soft;
            }
            break;
        }
    }
    for (std::size_t i = 0; i < options_.size(); ++i) {
        if (counts[i] < options_[i].min_count()) {
            if (at.word < words.size()) {
                return fmt::format("Unrecognized argument '{}' while parsing: {}", words[at.word],
                                   options_[i].usage_text());
            }
            return "Expected: " + options_[i].usage_text();
        }
    }
    if (at.word < words.size()) {
        return "Unrecognized token: " + words[at.word];
    }
    return std::nullopt;
}

std::string option_parser::usage_text() const {
    if (program_name_.empty()) {
        return {};
    }
    std::string text = program_name_;
    for (const option_spec& option : options_) {
        text += ' ';
        text += option.usage_item();
    }
    return text;
}

std::string option_parser::general_description() const {
    std::vector<std::string> parts;
    for (const option_spec& option : options_) {
        if (!option.general_description().empty()) {
            parts.push_back(option.general_description());
        }
    }
    return join(parts, "\n");
}

void option_parser::render_help(std::ostream& out) const {
    help_printer printer(out);
    const std::string usage = usage_text();
    if (!usage.empty()) {
        printer.heading("USAGE:");
        printer.set_indent_level(1);
        printer.paragraph(usage);
        printer.set_indent_level(0);
    }
    const std::string description = general_description();
    if (!description.empty()) {
        printer.paragraph(description);
    }
    printer.heading("OPTIONS, ARGUMENTS:");
    printer.set_indent_level(1);
    for (const option_spec& option : options_) {
        printer.option_line(option.listing_text(), option.description());
    }
    printer.set_indent_level(0);
}

}  // namespace tavro
