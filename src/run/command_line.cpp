#include "run/command_line.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/report.h"
#include "base/settings.h"
#include "run/messages.h"
#include "run/options.h"
#include "run/version.h"

namespace {

[[noreturn]] void invalid_argument(char option, const char *arg, const settings_record &shown)
{
    note::invalid_argument(option, arg);
    usage(shown);
}

// Text written as lines: each is reported on its own, so that on a
// terminal a newline inside a value shown (a title given with -d) stays
// inside its line.
using text_lines = std::vector<std::string>;

// The lines of text, each ending in its newline.
void add_lines(text_lines &out, std::string_view text)
{
    while (!text.empty()) {
        const size_t end = text.find('\n');
        out.emplace_back(text.substr(0, end == std::string_view::npos ? end : end + 1));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// An option's text in lines, its "{}" replaced by the value it shows once
// it is split.
text_lines filled(const char *text, const option_row &row, const settings_record &shown)
{
    text_lines lines;
    add_lines(lines, text);
    for (std::string &line : lines)
        if (const size_t at = line.find("{}"); row.value && at != std::string::npos) {
            line.replace(at, 2, row.value(shown));
            break;
        }
    return lines;
}

// Where the text of every entry starts, in the usage text and --help alike.
constexpr size_t text_column = 14;

// The text after `lead`, every further line indented to the text column,
// and so is what follows a newline inside a value.
void add_entry(text_lines &out, const std::string &lead, const text_lines &text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        std::string line = i == 0 ? lead : std::string(text_column, ' ');
        std::string_view own = text[i];
        if (own.ends_with('\n')) own.remove_suffix(1);
        for (const char c : own) {
            line += c;
            if (c == '\n') line.append(text_column, ' ');
        }
        line += '\n';
        out.push_back(std::move(line));
    }
}

// An entry of --help: the option, then its text at the text column.
void add_help(text_lines &out, std::string option, const text_lines &text)
{
    option.insert(0, "  ");
    option.resize(text_column, ' ');
    add_entry(out, option, text);
}

}  // namespace

void write_usage(const settings_record &shown)
{
    text_lines text;
    add_lines(text, "\nUsage:\n"
                    "vistrel [options] /path/to/gallery\n\n"
                    "Available options:\n");
    for (const char letter : std::string_view(usage_order)) {
        const option_row &row = *find_option(letter);
        add_entry(text, "   ", filled(row.usage, row, shown));
    }
    text.emplace_back("\n");
    for (const std::string &line : text) report_err("%s", line.c_str());
    note::try_help();
}

void usage(const settings_record &shown)
{
    write_usage(shown);
    std::exit(1);
}

namespace {

void write_help()
{
    const settings_record defaults;
    text_lines text;
    add_lines(text,
              "Usage: vistrel [options] /path/to/gallery\n"
              "\n"
              "Makes a static web gallery of the albums (sub-directories) of the gallery\n"
              "directory: a scaled image and a thumbnail of every photograph, a page for each,\n"
              "thumbnail index pages for every album and an index page for the gallery. A\n"
              "rerun derives images only for new or changed photographs.\n"
              "\n"
              "Options come before the gallery; flags may be grouped (-qk). Flags are off\n"
              "unless given.\n");
    for (const option_row &row : options) {
        std::string option = std::string("-") + row.letter;
        if (row.argument) option += std::string(" <") + row.argument + '>';
        add_help(text, option, filled(row.help, row, defaults));
    }
    add_help(text, "--help", {"print this help and exit"});
    add_help(text, "--version", {"print the version and exit"});
    add_lines(text,
              "\n"
              "The pages use vistrel.css in the gallery, written there when missing and never\n"
              "replaced: edit it to restyle. The manual page tells the rest: man vistrel\n");
    for (const std::string &line : text) report_out("%s", line.c_str());
}

// The end of --help and --version: status 0 once what they printed is
// written out.
[[noreturn]] void exit_after_output()
{
    if (const int error = close_standard_output()) {
        report_failure(message::cant_write_standard_output(error));
        std::exit(1);
    }
    std::exit(0);
}

// GNU's two long options, recognised as whole words where an option may
// stand; every other word starting with "--" is left to getopt as before.
bool long_option(const char *word, const char *name)
{
    return word[0] == '-' && word[1] == '-' && std::strcmp(word + 2, name) == 0;
}

// "--" and a word after it, as getopt would see it at the start of a word.
bool is_long_option(const char *word) { return word[0] == '-' && word[1] == '-' && word[2]; }

}  // namespace

command_line parse_command_line(int argc, char **argv)
{
    settings_record settings;
    opterr = 0;
    for (;;) {
        // getopt is between words here: an option argument it took is
        // behind optind already.
        if (optind < argc && long_option(argv[optind], "help")) {
            write_help();
            exit_after_output();
        }
        if (optind < argc && long_option(argv[optind], "version")) {
            std::printf("vistrel %s\n", vistrel_version);
            exit_after_output();
        }
        // Any other long option names itself, rather than getopt's '-'.
        if (optind < argc && is_long_option(argv[optind])) {
            note::unrecognized_option(argv[optind]);
            usage(settings);
        }
        const int letter = getopt(argc, argv, getopt_string.data());
        if (letter == -1) break;
        if (letter == ':') {
            note::missing_argument(optopt);
            usage(settings);
        }
        const option_row *row = find_option(letter);
        if (!row) {
            note::invalid_option(optopt);
            usage(settings);
        }
        const char *argument = row->argument ? optarg : nullptr;
        if (!row->set(settings, argument)) invalid_argument(row->letter, argument, settings);
    }
    if (argc - optind != 1) {
        // Words after the operand are operands: an option there was meant
        // as one, and is told why it is not.
        for (int i = optind + 1; i < argc; ++i)
            if (argv[i][0] == '-' && argv[i][1] != '\0') {
                note::option_after_operand(argv[i]);
                break;
            }
        usage(settings);
    }
    return {std::move(settings), argv[optind]};
}
