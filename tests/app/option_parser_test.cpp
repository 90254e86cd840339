#include "app/option_parser.h"

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tavro {
namespace {

// A parser over two short flags, numbers of both widths, a free string and
// a string with choices, as a small program would declare them.
struct sample_parser {
    bool alpha = false;
    bool beta = false;
    std::uint64_t size = 192;
    std::uint32_t count = 7;
    std::string name = "start";
    std::string mode = "os";
    bool help = false;
    option_parser parser;

    sample_parser() {
        parser.add(option_spec::help_option(help));
        parser.add(option_spec(alpha).add_name("-a").add_name("--alpha"));
        parser.add(option_spec(beta).add_name("-b"));
        parser.add(option_spec(size, "size").add_name("-s").add_name("--size"));
        parser.add(option_spec(count, "count").add_name("-c").add_name("--count"));
        parser.add(option_spec(name, "name").add_name("--name"));
        parser.add(option_spec(mode, "mode").add_name("--mode").set_choices({"os", "numa"}));
    }

    error_text parse(std::vector<std::string> words) {
        return parser.parse({"prog", std::move(words)});
    }
};

TEST(OptionParser, EveryValueFormSetsTheValue) {
    for (const std::vector<std::string>& words : {std::vector<std::string>{"-s64"},
                                                  {"-s", "64"},
                                                  {"-s=64"},
                                                  {"-s 64"},
                                                  {"--size", "64"},
                                                  {"--size=64"},
                                                  {"--size 64"},
                                                  {"--size", "064"}}) {
        sample_parser p;
        EXPECT_EQ(p.parse(words), std::nullopt) << words[0];
        EXPECT_EQ(p.size, 64u) << words[0];
    }
    sample_parser empty;
    EXPECT_EQ(empty.parse({}), std::nullopt);
    EXPECT_EQ(empty.size, 192u);
    EXPECT_FALSE(empty.help);
}

TEST(OptionParser, MissingValueAndNextWordAsValue) {
    sample_parser p;
    EXPECT_EQ(p.parse({"--size"}), "Expected argument following --size");
    EXPECT_EQ(p.parse({"-c"}), "Expected argument following -c");
    EXPECT_EQ(p.parse({"--size", "--count", "10"}),
              "Unable to convert '--count' to destination type");
    sample_parser q;
    EXPECT_EQ(q.parse({"--name", "--count", "-c", "3"}), std::nullopt);
    EXPECT_EQ(q.name, "--count");
    EXPECT_EQ(q.count, 3u);
    EXPECT_EQ(q.parse({"--name="}), std::nullopt);
    EXPECT_EQ(q.name, "");
}

TEST(OptionParser, NumberConversionRules) {
    const std::vector<std::string> bad = {"",
                                          "+64",
                                          "-64",
                                          "64k",
                                          "0x40",
                                          " 64",
                                          "6 4",
                                          "1e3",
                                          "18446744073709551616",
                                          "99999999999999999999999"};
    for (const std::string& text : bad) {
        sample_parser p;
        EXPECT_EQ(p.parse({"--size=" + text}),
                  "Unable to convert '" + text + "' to destination type");
        EXPECT_EQ(p.size, 192u) << "a failed conversion keeps the old value";
    }
    sample_parser p;
    EXPECT_EQ(p.parse({"-s", "18446744073709551615", "-c", "4294967295"}), std::nullopt);
    EXPECT_EQ(p.size, 18446744073709551615u);
    EXPECT_EQ(p.count, 4294967295u);
    EXPECT_EQ(p.parse({"-c", "4294967296"}), "Unable to convert '4294967296' to destination type");
    EXPECT_EQ(p.parse({"-c", "0000000000000000000000000000012"}), std::nullopt);
    EXPECT_EQ(p.count, 12u);
}

TEST(OptionParser, FlagsTakeNoValueAndShareShortWords) {
    sample_parser p;
    EXPECT_EQ(p.parse({"--alpha="}), "Flag option '--alpha' contains value ''.");
    EXPECT_EQ(p.parse({"--alpha=1"}), "Flag option '--alpha' contains value '1'.");
    EXPECT_EQ(p.parse({"-a=x"}), "Flag option '-a' contains value 'x'.");
    EXPECT_EQ(p.parse({"-ab=x"}), "Flag option '-a' contains value 'b=x'.");
    EXPECT_EQ(p.parse({"--alpha yes"}), "Flag option '--alpha' contains value 'yes'.");

    sample_parser q;
    EXPECT_EQ(q.parse({"--alpha", "yes"}), "Unrecognized token: yes");
    sample_parser cluster;
    EXPECT_EQ(cluster.parse({"-bas64"}), std::nullopt);
    EXPECT_TRUE(cluster.alpha);
    EXPECT_TRUE(cluster.beta);
    EXPECT_EQ(cluster.size, 64u);
    sample_parser split;
    EXPECT_EQ(split.parse({"-abs", "64", "-c9"}), std::nullopt);
    EXPECT_EQ(split.size, 64u);
    EXPECT_EQ(split.count, 9u);
    sample_parser unknown;
    EXPECT_EQ(unknown.parse({"-ax"}), "Unrecognized token: -ax");
}

TEST(OptionParser, EachOptionAtMostOnceUnderAnyName) {
    sample_parser p;
    EXPECT_EQ(p.parse({"-s", "64", "--size", "128"}), "Unrecognized token: --size");
    EXPECT_EQ(p.parse({"--mode", "numa", "--mode", "os"}), "Unrecognized token: --mode");
    EXPECT_EQ(p.parse({"-aa"}), "Unrecognized token: -aa");
}

TEST(OptionParser, ChoicesAreExact) {
    sample_parser p;
    EXPECT_EQ(p.parse({"--mode=NUMA"}), "Value 'NUMA' not expected. Allowed values are: os, numa");
    EXPECT_EQ(p.parse({"--mode="}), "Value '' not expected. Allowed values are: os, numa");
    EXPECT_EQ(p.mode, "os");
    EXPECT_EQ(p.parse({"--mode numa"}), std::nullopt);
    EXPECT_EQ(p.mode, "numa");
}

TEST(OptionParser, HelpEndsTheParseAtOnce) {
    for (const char* help_word : {"-?", "-h", "--help"}) {
        sample_parser p;
        EXPECT_EQ(p.parse({"-s", "64", help_word, "--foo", "-s", "x"}), std::nullopt);
        EXPECT_TRUE(p.help);
        EXPECT_EQ(p.size, 64u);
    }
    sample_parser p;
    EXPECT_EQ(p.parse({"-h?"}), std::nullopt);
    EXPECT_EQ(p.parse({"--foo", "--help"}), "Unrecognized token: --foo");
}

TEST(OptionParser, WordsNoOptionTakes) {
    for (const std::string word : {"-", "", "--", "---size", "64", "--SIZE", "--foo=1", "-S"}) {
        sample_parser p;
        EXPECT_EQ(p.parse({word, "-s", "64"}), "Unrecognized token: " + word);
    }
}

TEST(OptionParser, ProgramNameIsTheLastPathPart) {
    bool help = false;
    option_parser parser;
    parser.add(option_spec::help_option(help));
    EXPECT_EQ(parser.program_name(), "<executable>");
    for (const char* path : {"tools\\bench\\tavro.exe", "./bench/tavro.exe", "tavro.exe"}) {
        EXPECT_EQ(parser.parse({path, {}}), std::nullopt);
        EXPECT_EQ(parser.usage_text(), "tavro.exe [-?|-h|--help]");
    }
    EXPECT_EQ(parser.parse({"dir/", {}}), std::nullopt);
    EXPECT_EQ(parser.usage_text(), "");
}

TEST(OptionParser, BrokenDefinitionsFailTheParse) {
    bool flag = false;
    std::string text;
    const std::vector<std::pair<option_spec, std::string>> broken = {
        {option_spec(flag), "No options supplied to opt"},
        {option_spec(flag).add_name("--x").set_choices({"a"}),
         "Flag options cannot contain choices."},
        {option_spec(text, "t").add_name("--x").add_name(""), "Option name cannot be empty"},
        {option_spec(text, "t").add_name("x"), "Option name must begin with '-'"},
    };
    for (const auto& [option, message] : broken) {
        option_parser parser;
        parser.add(option);
        EXPECT_EQ(parser.parse({"p", {}}), std::nullopt) << "no word, nothing to test";
        EXPECT_EQ(parser.parse({"p", {"--y"}}), message);
    }
    // A sound option after a broken one still takes its word.
    option_parser parser;
    parser.add(option_spec(flag)).add(option_spec(text, "t").add_name("--t"));
    EXPECT_EQ(parser.parse({"p", {"--t", "v"}}), std::nullopt);
    EXPECT_EQ(text, "v");
}

TEST(OptionParser, EvaluationModeMustBeKnown) {
    sample_parser p;
    p.parser.set_evaluation_mode("strict");
    EXPECT_EQ(p.parse({}), "Unknown evaluation mode; not one of 'any', 'sequence', or 'relaxed'.");
    p.parser.set_evaluation_mode("relaxed");
    EXPECT_EQ(p.parse({"-s", "64"}), std::nullopt);
}

TEST(OptionParser, OccurrenceLimits) {
    std::string name;
    std::uint32_t level = 0;
    option_parser parser;
    parser.add(option_spec(level, "level").add_name("-l").set_occurrences(0, 2));
    parser.add(option_spec(name, "name").add_name("-n").add_name("--name").set_occurrences(1, 1));
    EXPECT_EQ(parser.parse({"p", {}}), "Expected: -n|--name <name>");
    EXPECT_EQ(parser.parse({"p", {"-l1", "zzz"}}),
              "Unrecognized argument 'zzz' while parsing: -n|--name <name>");
    EXPECT_EQ(parser.parse({"p", {"-l1", "-n", "x", "-l2"}}), std::nullopt);
    EXPECT_EQ(level, 2u);
    EXPECT_EQ(parser.parse({"p", {"-nx", "-l1", "-l2", "-l3"}}), "Unrecognized token: -l3");
    EXPECT_EQ(parser.usage_text(), "p [-l <level>] -n|--name <name>");
}

TEST(OptionSpec, NamesDescriptionsAndDefaults) {
    std::uint32_t threads = 0;
    std::uint64_t size = 192;
    std::string empty;
    std::string manager = "os";
    bool flag = false;
    EXPECT_EQ(option_spec(threads, "n").set_help("Threads").description(), "Threads [default: 0]");
    EXPECT_EQ(option_spec(size, "s").description(), "[default: 192]");
    EXPECT_EQ(option_spec(manager, "m").set_help("Manager").description(), "Manager [default: os]");
    EXPECT_EQ(option_spec(empty, "e").set_help("Only help").description(), "Only help");
    EXPECT_EQ(option_spec(flag).description(), "");
    EXPECT_EQ(option_spec(flag).set_help("Use it").description(), "Use it");

    const option_spec split = option_spec(flag).add_name("-ab").add_name("--long").add_name("-c");
    EXPECT_EQ(split.names(), (std::vector<std::string>{"-a", "-b", "--long", "-c"}));
    EXPECT_EQ(split.usage_item(), "[-a|-b|--long|-c]");
    const option_spec value = option_spec(size, "size").add_name("-s").add_name("--size");
    EXPECT_EQ(value.usage_item(), "[-s|--size <size>]");
    EXPECT_EQ(value.listing_text(), "-s, --size <size>");
}

TEST(OptionParser, KeepsItsOwnCopyOfEachOption) {
    bool flag = false;
    option_spec option(flag);
    option.add_name("--one");
    option_parser parser;
    parser.add(option);
    option.add_name("--two");
    EXPECT_EQ(parser.parse({"p", {"--two"}}), "Unrecognized token: --two");
    EXPECT_EQ(parser.parse({"p", {"--one"}}), std::nullopt);
    EXPECT_TRUE(flag);
}

TEST(HelpPrinter, OptionColumnAndWrapping) {
    std::ostringstream out;
    help_printer printer(out);
    printer.heading("HEAD:");
    printer.set_indent_level(1);
    printer.paragraph("text");
    printer.option_line("-x", "short");
    printer.option_line("exactly-twenty-three-ch", "fits");
    printer.option_line("twenty-four-characters-x", "wraps");
    printer.option_line("-e", "");
    printer.set_indent_level(0);
    printer.option_line("-z", "level zero");
    EXPECT_EQ(out.str(),
              "HEAD:\n"
              "  text\n\n"
              "  -x                      short\n"
              "  exactly-twenty-three-ch fits\n"
              "  twenty-four-characters-x\n"
              "                          wraps\n"
              "  -e                      \n"
              "-z                        level zero\n");
}

TEST(OptionParser, HelpLayoutWithAndWithoutProgramName) {
    sample_parser p;
    ASSERT_EQ(p.parser.parse({"", {}}), std::nullopt);
    std::ostringstream out;
    p.parser.render_help(out);
    EXPECT_EQ(out.str(),
              "Display usage information.\n"
              "\n"
              "OPTIONS, ARGUMENTS:\n"
              "  -?, -h, --help          \n"
              "  -a, --alpha             \n"
              "  -b                      \n"
              "  -s, --size <size>       [default: 192]\n"
              "  -c, --count <count>     [default: 7]\n"
              "  --name <name>           [default: start]\n"
              "  --mode <mode>           [default: os]\n");

    ASSERT_EQ(p.parser.parse({"/usr/bin/prog", {}}), std::nullopt);
    std::ostringstream named;
    p.parser.render_help(named);
    EXPECT_EQ(named.str().substr(0, named.str().find("OPTIONS")),
              "USAGE:\n"
              "  prog [-?|-h|--help] [-a|--alpha] [-b] [-s|--size <size>] [-c|--count <count>] "
              "[--name <name>] [--mode <mode>]\n"
              "\n"
              "Display usage information.\n"
              "\n");
}

}  // namespace
}  // namespace tavro
