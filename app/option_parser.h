#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "machine/error_text.h"

namespace tavro {

/// The caller's variable that receives an option's value. It must outlive
/// every parse that can write it.
using option_binding = std::variant<bool*, std::uint32_t*, std::uint64_t*, std::string*>;

/// One declared option: names, value name, description, binding, allowed
/// values and how often it may be given (0 to 1 times unless changed).
class option_spec {
  public:
    /// A value option. Its description becomes "[default: X]" with X the
    /// target's current value in decimal or as text; nothing when X is empty.
    option_spec(std::uint32_t& target, std::string_view value_name);
    option_spec(std::uint64_t& target, std::string_view value_name);
    option_spec(std::string& target, std::string_view value_name);
    /// A flag: set to true when given, never takes a value. Empty description.
    explicit option_spec(bool& target);

    /// The help flag, named "-?", "-h" and "--help". When matched it ends
    /// the parse at once with success. It carries the parser's general
    /// description "Display usage information." and an empty description.
    static option_spec help_option(bool& target);

    /// Adds a name. A name of three or more characters made of one "-" and
    /// letters ("-ab") adds one short name per letter ("-a", "-b").
    option_spec& add_name(std::string_view name);
    /// Puts the help text in front of the description (one blank between),
    /// or makes it the description when that is empty.
    option_spec& set_help(std::string_view text);
    /// The only value texts accepted, compared exactly. Meant for value
    /// options; a flag with choices fails every parse it takes part in.
    option_spec& set_choices(std::vector<std::string> choices);
    /// How often the option must and may be given in one parse.
    option_spec& set_occurrences(std::size_t min_count, std::size_t max_count);

    const option_binding& binding() const { return binding_; }
    const std::vector<std::string>& names() const { return names_; }
    const std::string& value_name() const { return value_name_; }
    const std::string& description() const { return description_; }
    const std::string& general_description() const { return general_description_; }
    const std::vector<std::string>& choices() const { return choices_; }
    std::size_t min_count() const { return min_count_; }
    std::size_t max_count() const { return max_count_; }
    bool is_flag() const { return std::holds_alternative<bool*>(binding_); }
    bool ends_parse() const { return ends_parse_; }
    bool has_name(std::string_view name) const;

    /// "-s|--size <size>": the names joined by "|" and the value name.
    std::string usage_text() const;
    /// The usage text, in "[" and "]" when the option may be left out.
    std::string usage_item() const;
    /// "-s, --size <size>": the left column of the help listing.
    std::string listing_text() const;
    /// Why the declaration is unusable, or nothing when it is sound.
    error_text definition_error() const;

  private:
    option_spec(option_binding binding, std::string_view value_name);

    option_binding binding_;
    std::vector<std::string> names_;
    std::string value_name_;
    std::string description_;
    std::string general_description_;
    std::vector<std::string> choices_;
    std::size_t min_count_ = 0;
    std::size_t max_count_ = 1;
    bool ends_parse_ = false;
};

/// The program name as given (possibly empty) and the argument words after it.
struct argument_list {
    std::string program_name;
    std::vector<std::string> words;
};

/// Writes the help layout: headings, paragraphs and two-column option lines,
/// indented by 2 blanks per level.
class help_printer {
  public:
    /// Width of the option column, indent included.
    static constexpr std::size_t option_column_width = 25;

    explicit help_printer(std::ostream& out) : out_(out) {}

    void set_indent_level(std::size_t level) { level_ = level; }
    /// The text and a line end, never indented.
    void heading(std::string_view text);
    /// Indent, text and two line ends.
    void paragraph(std::string_view text);
    /// Left text padded to the option column, one blank, the description. A
    /// left text wider than the column goes on a line of its own and the
    /// description starts the next line at the same column. Never wraps the
    /// description.
    void option_line(std::string_view left, std::string_view description);

  private:
    std::ostream& out_;
    std::size_t level_ = 0;
};

/// Parses argument words into the bound variables of its options and renders
/// the help text. Prints nothing itself: failures come back as one message.
class option_parser {
  public:
    /// Appends a copy of the option; later changes to `option` do not reach
    /// the parser. Options are matched and listed in the order added.
    option_parser& add(const option_spec& option);
    /// "any" (the default), "sequence" or "relaxed"; all three evaluate the
    /// words the same way. Any other text makes every parse fail.
    void set_evaluation_mode(std::string mode) { mode_ = std::move(mode); }

    /// Writes the values of the given options into their bindings and
    /// returns nothing on success, else the one failure message. A failing
    /// parse may already have written options that came before the fault.
    /// Sets the program name to the text after the last "\" or "/".
    error_text parse(const argument_list& arguments);

    /// The name from the last parse; "<executable>" before the first.
    const std::string& program_name() const { return program_name_; }
    /// The program name and every option's usage item; empty when the
    /// program name is empty.
    std::string usage_text() const;
    /// The options' general descriptions, one per line.
    std::string general_description() const;
    /// Usage, general description and the option listing. Ends with the line
    /// end of the last option line.
    void render_help(std::ostream& out) const;

  private:
    std::vector<option_spec> options_;
    std::string program_name_ = "<executable>";
    std::string mode_ = "any";
};

}  // namespace tavro
