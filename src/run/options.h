// The command line's options, one row each. The getopt string, the parser,
// --help and the usage text are all made from this table, and
// tests/options_test.cpp holds the manual, the README, the manual page and
// the Slurm script to it: an option is added by adding its row (and the
// field of settings_record it sets).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/settings.h"

// What an option does to the configuration, given its argument (nullptr for
// a flag). False refuses the argument: the usage text follows, showing the
// settings as they are then.
using option_setter = bool (*)(settings_record &settings, const char *argument);

// The value that an option's text shows, taken from the given settings.
using option_value = std::string (*)(const settings_record &settings);

struct option_row {
    char letter = '\0';
    // Its name in --help, "x" for "-c <x>"; nullptr for a flag.
    const char *argument = nullptr;
    option_setter set = nullptr;
    // Its lines in --help, without the option column; "{}" stands for the
    // default, which `value` gives from a default settings_record.
    const char *help = nullptr;
    option_value value = nullptr;
    // Its lines in the usage text, option column and all, "{}" standing for
    // the value in force; nullptr for an option the usage text leaves out.
    // That text is fixed as users have long known it: no option is added to
    // it, and its wording stays as it is.
    const char *usage = nullptr;
    // What it sets changes the derived images: part runs (-p) must be given
    // it as the pages run is, or their work is wrong or done again
    // (parts_test tries every option on one side alone).
    bool derives = false;
};

namespace option_set {

// strtol's value is stored, narrowed to 32 bits, before it is tested, so a
// rejected argument shows up in the usage text that follows.
bool positive(int32_t &field, const char *argument);

template <int32_t settings_record::*field>
bool number(settings_record &settings, const char *argument)
{
    return positive(settings.*field, argument);
}

template <bool settings_record::*field, bool value = true>
bool flag(settings_record &settings, const char *)
{
    settings.*field = value;
    return true;
}

template <::exif_mode mode>
bool exif(settings_record &settings, const char *)
{
    settings.exif_mode = mode;
    return true;
}

bool title(settings_record &settings, const char *argument);
bool order(settings_record &settings, const char *argument);  // name, size, mtime or taken
bool part(settings_record &settings, const char *argument);   // "K/N", 1 <= K <= N
bool modern(settings_record &settings, const char *);         // -2 -b -n -C -i -V -a -R -N
[[noreturn]] bool version(settings_record &settings, const char *);

}  // namespace option_set

namespace option_shown {

template <int32_t settings_record::*field>
std::string number(const settings_record &settings)
{
    return std::to_string(settings.*field);
}

inline std::string title(const settings_record &settings) { return settings.default_title; }

}  // namespace option_shown

// In the order --help lists them.
// clang-format off
inline constexpr option_row options[] = {
    {.letter = 'c', .argument = "x",
     .set = option_set::number<&settings_record::columns>,
     .help = "columns per thumbnail index page (default: {})",
     .value = option_shown::number<&settings_record::columns>,
     .usage = "-c <x> ... columns per thumbnail index page (default: {})"},
    {.letter = 'r', .argument = "y",
     .set = option_set::number<&settings_record::rows>,
     .help = "rows per thumbnail index page (default: {})",
     .value = option_shown::number<&settings_record::rows>,
     .usage = "-r <y> ... rows per thumbnail index page (default: {})"},
    {.letter = 'h', .argument = "i",
     .set = option_set::number<&settings_record::thumb_height>,
     .help = "height of the thumbnails in pixels (default: {})",
     .value = option_shown::number<&settings_record::thumb_height>,
     .usage = "-h <i> ... height of the thumbnails in pixel (default: {})",
     .derives = true},
    {.letter = 'H', .argument = "j",
     .set = option_set::number<&settings_record::scaled_height>,
     .help = "height of the scaled images in pixels (default: {})",
     .value = option_shown::number<&settings_record::scaled_height>,
     .usage = "-H <j> ... height of the scaled images in pixel (default: {})",
     .derives = true},
    {.letter = 's', .argument = "n",
     .set = option_set::order,
     .help = "order of the images: name, size, mtime or taken (default: name)",
     .usage = "-s <n> ... sort images according to argument\n"
              "('name', 'size', 'mtime'; default is 'name')"},
    {.letter = 'd', .argument = "title",
     .set = option_set::title,
     .help = "title of the gallery and of every album whose .description\n"
             "gives none (default: '{}')",
     .value = option_shown::title,
     .usage = "-d     ... title string for gallery and albums, if not provided in\n"
              "'.description' files (default: '{}')"},
    {.letter = 'e',
     .set = option_set::exif<exif_mode::comment>,
     .help = "EXIF data in an HTML comment instead of a table",
     .usage = "-e     ... don't display exif data on the page, insert it in html comments"},
    {.letter = 'E',
     .set = option_set::exif<exif_mode::none>,
     .help = "no EXIF data on the pages",
     .usage = "-E     ... don't display exif data at all"},
    {.letter = 'D',
     .set = option_set::flag<&settings_record::show_caption>,
     .help = "caption under each thumbnail instead of its size",
     .usage = "-D     ... display filename instead of size on index page"},
    {.letter = 'f',
     .set = option_set::flag<&settings_record::force>,
     .help = "rebuild every derived image, fresh or not",
     .usage = "-f     ... force rebuild of everything; ignore cache"},
    {.letter = 'o',
     .set = option_set::flag<&settings_record::remove_orphans, false>,
     .help = "keep orphaned files (default: delete them)",
     .usage = "-o     ... don't remove orphaned files"},
    {.letter = 'l',
     .set = option_set::flag<&settings_record::bilinear>,
     .help = "bilinear resampling: faster, poorer (default: area averaging)",
     .usage = "-l     ... use bilinear resizing instead of bicubic\n"
              "(faster, but image quality is poor)",
     .derives = true},
    {.letter = '2',
     .set = option_set::flag<&settings_record::double_density>,
     .help = "also images at twice the size, for high-density screens",
     .derives = true},
    {.letter = 'b',
     .set = option_set::flag<&settings_record::big_screens>,
     .help = "also images three times -H high, for big screens",
     .derives = true},
    {.letter = 'n',
     .set = option_set::flag<&settings_record::page_numbers>,
     .help = "page numbers on the index pages, positions on the image pages"},
    {.letter = 'C',
     .set = option_set::flag<&settings_record::album_covers>,
     .help = "album covers on the gallery index page"},
    {.letter = 'i',
     .set = option_set::flag<&settings_record::heif_photos>,
     .help = "HEIF and AVIF photographs too (.heic, .heif, .avif)",
     .derives = true},
    {.letter = 'V',
     .set = option_set::flag<&settings_record::videos>,
     .help = "videos too (.mp4, .m4v, .mov, .webm, .mkv): a poster frame,\n"
             "and the original playing on its page",
     .derives = true},
    {.letter = 'a',
     .set = option_set::flag<&settings_record::arrow_keys>,
     .help = "arrow keys and swipe on the pages"},
    {.letter = 'R',
     .set = option_set::flag<&settings_record::album_tree>,
     .help = "albums at any depth: every folder below the gallery, with\n"
             "breadcrumbs on the pages and its sub-albums listed first",
     .derives = true},
    {.letter = 'N',
     .set = option_set::flag<&settings_record::folder_titles>,
     .help = "an album whose .description gives no title is titled by its\n"
             "folder's name, with breadcrumbs on the pages"},
    // An opt-in that improves what a viewer sees at no cost in correctness
    // joins -m too.
    {.letter = 'm',
     .set = option_set::modern,
     .help = "the modern gallery: -2 -b -n -C -i -V -a -R -N in one letter",
     .derives = true},
    {.letter = 'j', .argument = "n",
     .set = option_set::number<&settings_record::jobs>,
     .help = "threads for the images of an album (default: one per usable CPU)"},
    {.letter = 'p', .argument = "K/N",
     .set = option_set::part,
     .help = "derive only part K of N of the images, for batch engines\n"
             "(default: all of them)"},
    {.letter = 'q',
     .set = option_set::flag<&settings_record::quiet>,
     .help = "quiet: print only the photos made and the orphans deleted, then\n"
             "a summary line; on a terminal, a progress line"},
    {.letter = 'k',
     .set = option_set::flag<&settings_record::keep_going>,
     .help = "keep going past a photo that cannot be read: leave it out,\n"
             "count it, and exit with status 1 at the end"},
    {.letter = 'v',
     .set = option_set::version,
     .help = "print the version on standard error and exit",
     .usage = "-v     ... show version info"},
};
// clang-format on

// The options of the usage text, in its own order.
inline constexpr char usage_order[] = "crhHeEDfolsdv";

// The index of a letter's row; -1 for a letter that is no option.
constexpr int option_index(int letter)
{
    for (size_t i = 0; i < std::size(options); ++i)
        if (options[i].letter == letter) return static_cast<int>(i);
    return -1;
}

// The row of a letter; nullptr for a letter that is no option.
inline const option_row *find_option(int letter)
{
    const int index = option_index(letter);
    return index < 0 ? nullptr : &options[index];
}

// getopt's option string: every letter, with a ':' after one that takes an
// argument. The leading '+' keeps glibc from permuting: words after the
// operand are operands, not options. The leading ':' has getopt leave its
// diagnostics to us, so that a word of the command line reaches a terminal
// as safely as any name.
inline constexpr auto getopt_string = [] {
    std::array<char, 3 + 2 * std::size(options)> text{};
    size_t length = 0;
    text[length++] = '+';
    text[length++] = ':';
    for (const option_row &row : options) {
        text[length++] = row.letter;
        if (row.argument) text[length++] = ':';
    }
    return text;
}();

// What can be checked of the rows as the program is compiled. Some
// builds (GCC's sanitizers) take no address of a variable or function for
// a constant, so the checks go by index, and options_test checks `set` and
// `value`.
namespace option_table_checks {

constexpr bool contains(const char *text, char c)
{
    for (; *text; ++text)
        if (*text == c) return true;
    return false;
}

constexpr size_t length(const char *text)
{
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

constexpr bool rows_are_sound()
{
    for (size_t i = 0; i < std::size(options); ++i) {
        const option_row &row = options[i];
        // getopt's own characters, and letters given twice, would be lost.
        if (contains("+:?-", row.letter) || option_index(row.letter) != static_cast<int>(i))
            return false;
        if (!row.help) return false;
        // Two blanks at least between "-d <title>" and its text in --help.
        if (row.argument && length(row.argument) > 5) return false;
        // The usage text lists its options in its own order, each once.
        if ((row.usage != nullptr) != contains(usage_order, row.letter)) return false;
        if (row.usage && (row.usage[0] != '-' || row.usage[1] != row.letter)) return false;
    }
    for (size_t i = 0; usage_order[i]; ++i)
        if (option_index(usage_order[i]) < 0 || contains(usage_order + i + 1, usage_order[i]))
            return false;
    return true;
}

static_assert(rows_are_sound());

}  // namespace option_table_checks
