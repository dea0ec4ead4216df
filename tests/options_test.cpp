// The documents that list the options, held to the option table: the
// manual's table of options (and the README's short one of the options used
// most), the manual page's SYNOPSIS and OPTIONS, and the Slurm script's list
// of the options that take an argument.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run/options.h"
#include "support/temp_dir.h"

namespace {

std::string source_file(const std::string &path)
{
    return read_file(std::string(VISTREL_SOURCE_DIR) + "/" + path);
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// An option as a document lists it.
struct listed {
    bool argument = false;  // shown with an argument
    std::string text;       // what the document says of it, where that is kept
};

// The options a document lists, by letter; a letter listed twice is kept
// twice.
using listing = std::multimap<char, listed>;

// Every option of the table listed exactly once, as taking an argument
// exactly when it takes one, and no other letter; `arguments_only` for a
// list of the options that take an argument.
void expect_lists_the_table(const std::string &document, const listing &found,
                            bool arguments_only = false)
{
    for (const option_row &row : options) {
        const bool wanted = !arguments_only || row.argument;
        const size_t times = found.count(row.letter);
        if (!wanted) {
            EXPECT_EQ(times, 0u) << document << " lists -" << row.letter
                                 << ", which takes no argument";
            continue;
        }
        EXPECT_EQ(times, 1u) << document << " lists -" << row.letter << " " << times
                             << " times, not once";
        if (times == 1) {
            EXPECT_EQ(found.find(row.letter)->second.argument, row.argument != nullptr)
                << document << " shows -" << row.letter
                << (row.argument ? " without an argument" : " with an argument");
        }
    }
    for (const auto &[letter, option] : found)
        EXPECT_NE(find_option(letter), nullptr)
            << document << " lists -" << letter << ", which is no option";
}

// The lines between the one that is `first` and the next that starts with
// `end`.
std::vector<std::string> section(const std::vector<std::string> &lines, const std::string &first,
                                 const std::string &end)
{
    std::vector<std::string> part;
    bool inside = false;
    for (const std::string &line : lines) {
        if (inside && line.starts_with(end)) break;
        if (inside) part.push_back(line);
        if (line == first) inside = true;
    }
    EXPECT_TRUE(inside) << "no line " << first;
    return part;
}

// A table of options in a Markdown document, under the header line
// `header`: "| `-c <x>` | columns ... (default 5) |", one row an option; the
// long options are left out.
listing table_options(const std::string &document, const std::string &header)
{
    listing found;
    const std::vector<std::string> lines = lines_of(source_file(document));
    size_t at = 0;
    while (at < lines.size() && lines[at] != header) ++at;
    EXPECT_LT(at, lines.size()) << document << ": no table of options";
    // Past the header's rule, to the first line that is no option's row.
    for (at += 2; at < lines.size() && lines[at].starts_with("| `-"); ++at) {
        const std::string &row = lines[at];
        const size_t end = row.find("` |");
        if (end == std::string::npos) continue;
        const std::string option = row.substr(3, end - 3);
        if (option.starts_with("--")) continue;
        found.emplace(option[1], listed{option.size() > 2, row.substr(end + 3)});
    }
    return found;
}

// The manual's table, of every option.
listing manual_options() { return table_options("doc/manual.md", "| option | effect |"); }

// The README's table, of the options used most.
listing readme_options() { return table_options("README.md", "| option | what it does |"); }

// The options after "\-" in the manual page's lines: ".OP \-2abC" lists
// flags, ".OP \-c columns" or ".BI \-c " columns"" an option with its
// argument.
void add_man_option(listing &found, const std::string &line, size_t dash, std::string text)
{
    const std::string rest = line.substr(dash + 2);
    if (rest.starts_with("\\-")) return;  // --help, --version
    const size_t blank = rest.find(' ');
    if (blank != std::string::npos || line.starts_with(".BI ")) {
        found.emplace(rest[0], listed{true, std::move(text)});
    } else {
        for (const char letter : rest) found.emplace(letter, listed{false, text});
    }
}

listing man_synopsis(const std::vector<std::string> &man)
{
    listing found;
    for (const std::string &line : section(man, ".SH SYNOPSIS", ".SH "))
        if (line.starts_with(".OP \\-") || line.starts_with(".B \\-"))
            add_man_option(found, line, line.find("\\-"), "");
    return found;
}

// Each entry of OPTIONS: ".TP", then the option, then what it does, to the
// next ".TP".
listing man_options(const std::vector<std::string> &man)
{
    listing found;
    const std::vector<std::string> lines = section(man, ".SH OPTIONS", ".SH ");
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != ".TP") continue;
        const std::string &tag = lines[i + 1];
        if (!tag.starts_with(".B \\-") && !tag.starts_with(".BI \\-")) continue;
        std::string text;
        for (size_t j = i + 2; j < lines.size() && lines[j] != ".TP"; ++j) text += lines[j] + "\n";
        add_man_option(found, tag, tag.find("\\-"), text);
    }
    return found;
}

// The case pattern under the marked comment:
// "    -c | -d | -h | -H | -j | -p | -r | -s) pages_words+=...".
listing slurm_options()
{
    listing found;
    const std::vector<std::string> lines = lines_of(source_file("share/vistrel/vistrel-slurm"));
    const std::string marker = "# Every option of vistrel that takes an argument:";
    size_t at = 0;
    while (at < lines.size() && lines[at].find(marker) == std::string::npos) ++at;
    EXPECT_LT(at + 1, lines.size()) << "no line " << marker;
    if (at + 1 >= lines.size()) return found;
    const std::string pattern = lines[at + 1].substr(0, lines[at + 1].find(')'));
    std::istringstream words(pattern);
    for (std::string word; words >> word;) {
        if (word == "|") continue;
        EXPECT_TRUE(word.size() == 2 && word[0] == '-') << "not an option: " << word;
        if (word.size() == 2) found.emplace(word[1], listed{true, ""});
    }
    return found;
}

// Every row sets something, and has a value exactly where its text shows
// one.
TEST(options, rows_set_and_show_what_they_say)
{
    const auto shows_a_value = [](const char *text) {
        return text && std::string(text).find("{}") != std::string::npos;
    };
    for (const option_row &row : options) {
        EXPECT_NE(row.set, nullptr) << "-" << row.letter;
        EXPECT_EQ(shows_a_value(row.help) || shows_a_value(row.usage), row.value != nullptr)
            << "-" << row.letter;
    }
}

TEST(options, manual_table_lists_every_option)
{
    expect_lists_the_table("doc/manual.md", manual_options());
}

// The README lists a few options: each an option, shown with an argument
// exactly when it takes one, and none twice.
TEST(options, readme_table_lists_options_as_they_are)
{
    const listing found = readme_options();
    EXPECT_FALSE(found.empty()) << "README.md: no option in its table";
    for (const auto &[letter, option] : found) {
        const option_row *row = find_option(letter);
        EXPECT_NE(row, nullptr) << "README.md lists -" << letter << ", which is no option";
        EXPECT_EQ(found.count(letter), 1u) << "README.md lists -" << letter << " twice";
        if (row) {
            EXPECT_EQ(option.argument, row->argument != nullptr)
                << "README.md shows -" << letter
                << (row->argument ? " without an argument" : " with an argument");
        }
    }
}

TEST(options, manual_page_lists_every_option)
{
    const std::vector<std::string> man = lines_of(source_file("doc/vistrel.1"));
    expect_lists_the_table("SYNOPSIS of doc/vistrel.1", man_synopsis(man));
    expect_lists_the_table("OPTIONS of doc/vistrel.1", man_options(man));
}

TEST(options, slurm_script_knows_every_option_that_takes_an_argument)
{
    expect_lists_the_table("share/vistrel/vistrel-slurm", slurm_options(), true);
}

// A default that --help and the usage text print from settings_record is
// the one the manual, the README (for the options it lists) and the manual
// page state.
TEST(options, documents_state_the_defaults)
{
    const settings_record defaults;
    const std::pair<std::string, listing> tables[] = {{"doc/manual.md", manual_options()},
                                                      {"README.md", readme_options()}};
    const listing man = man_options(lines_of(source_file("doc/vistrel.1")));
    for (const option_row &row : options) {
        if (!row.value) continue;
        const std::string value = row.value(defaults);
        for (const auto &[document, table] : tables) {
            if (const auto found = table.find(row.letter); found != table.end()) {
                std::string text = found->second.text;
                std::erase(text, '`');
                EXPECT_NE(text.find("(default " + value), std::string::npos)
                    << document << ", -" << row.letter << ": no (default " << value << ")";
            }
        }
        if (const auto found = man.find(row.letter); found != man.end()) {
            // "Default: 5." or "Default:" and the value on the next line.
            const std::vector<std::string> entry = lines_of(found->second.text);
            bool stated = false;
            for (size_t i = 0; i < entry.size(); ++i)
                if (entry[i].starts_with("Default:"))
                    stated =
                        entry[i].find(value) != std::string::npos ||
                        (i + 1 < entry.size() && entry[i + 1].find(value) != std::string::npos);
            EXPECT_TRUE(stated) << "doc/vistrel.1, -" << row.letter << ": no Default: " << value;
        }
    }
}

}  // namespace
