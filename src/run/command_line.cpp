#include "run/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/report.h"
#include "base/settings.h"
#include "run/messages.h"
#include "run/version.h"

namespace {

// strtol's value is stored, narrowed to 32 bits, before it is tested, so a
// rejected argument shows up in the usage text that follows.
bool set_positive(int32_t &field, const char *arg)
{
    char *end = nullptr;
    const long value = std::strtol(arg, &end, 10);
    field = static_cast<int32_t>(value);
    return end != arg && *end == '\0' && field > 0;
}

// The field that each numeric option sets.
int32_t settings_record::*numeric_field(char option)
{
    switch (option) {
    case 'c': return &settings_record::columns;
    case 'r': return &settings_record::rows;
    case 'h': return &settings_record::thumb_height;
    case 'H': return &settings_record::scaled_height;
    default: return &settings_record::jobs;
    }
}

[[noreturn]] void invalid_argument(char option, const char *arg, const settings_record &shown)
{
    note::invalid_argument(option, arg);
    usage(shown);
}

// "K/N", both decimal digits only, 1 <= K <= N.
bool set_part(part_choice &part, const char *arg)
{
    const auto number = [](const char *&text, int32_t &value) {
        if (*text < '0' || *text > '9') return false;
        char *end = nullptr;
        errno = 0;
        const long parsed = std::strtol(text, &end, 10);
        if (errno != 0 || parsed < 1 || parsed > INT32_MAX) return false;
        value = static_cast<int32_t>(parsed);
        text = end;
        return true;
    };
    part_choice parsed;
    const char *text = arg;
    if (!number(text, parsed.index) || *text++ != '/' || !number(text, parsed.count) ||
        *text != '\0' || parsed.index > parsed.count)
        return false;
    part = parsed;
    return true;
}

bool set_order(image_order &order, const char *name)
{
    static constexpr struct {
        const char *name;
        image_order order;
    } orders[] = {
        {"name", image_order::name},
        {"size", image_order::size},
        {"mtime", image_order::mtime},
        {"taken", image_order::taken},
    };
    for (const auto &known : orders) {
        if (std::strcmp(name, known.name) == 0) {
            order = known.order;
            return true;
        }
    }
    return false;
}

}  // namespace

void write_usage(const settings_record &shown)
{
    report_err("\nUsage:\n"
               "vistrel [options] /path/to/gallery\n\n"
               "Available options:\n"
               "   -c <x> ... columns per thumbnail index page (default: %d)\n"
               "   -r <y> ... rows per thumbnail index page (default: %d)\n"
               "   -h <i> ... height of the thumbnails in pixel (default: %d)\n"
               "   -H <j> ... height of the scaled images in pixel (default: %d)\n"
               "   -e     ... don't display exif data on the page, insert it in html comments\n"
               "   -E     ... don't display exif data at all\n"
               "   -D     ... display filename instead of size on index page\n"
               "   -f     ... force rebuild of everything; ignore cache\n"
               "   -o     ... don't remove orphaned files\n"
               "   -l     ... use bilinear resizing instead of bicubic\n"
               "              (faster, but image quality is poor)\n"
               "   -s <n> ... sort images according to argument\n"
               "              ('name', 'size', 'mtime'; default is 'name')\n"
               "   -d     ... title string for gallery and albums, if not provided in\n"
               "              '.description' files (default: '%s')\n"
               "   -v     ... show version info\n\n",
               shown.columns, shown.rows, shown.thumb_height, shown.scaled_height,
               shown.default_title.c_str());
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
    report_out("Usage: vistrel [options] /path/to/gallery\n"
               "\n"
               "Makes a static web gallery of the albums (sub-directories) of the gallery\n"
               "directory: a scaled image and a thumbnail of every photograph, a page for each,\n"
               "thumbnail index pages for every album and an index page for the gallery. A\n"
               "rerun derives images only for new or changed photographs.\n"
               "\n"
               "Options come before the gallery; flags may be grouped (-qk). Flags are off\n"
               "unless given.\n"
               "  -c <x>      columns per thumbnail index page (default: %d)\n"
               "  -r <y>      rows per thumbnail index page (default: %d)\n"
               "  -h <i>      height of the thumbnails in pixels (default: %d)\n"
               "  -H <j>      height of the scaled images in pixels (default: %d)\n"
               "  -s <n>      order of the images: name, size, mtime or taken (default: name)\n"
               "  -d <title>  title of the gallery and of every album whose .description\n"
               "              gives none (default: '%s')\n"
               "  -e          EXIF data in an HTML comment instead of a table\n"
               "  -E          no EXIF data on the pages\n"
               "  -D          caption under each thumbnail instead of its size\n"
               "  -f          rebuild every derived image, fresh or not\n"
               "  -o          keep orphaned files (default: delete them)\n"
               "  -l          bilinear resampling: faster, poorer (default: area averaging)\n"
               "  -2          also images at twice the size, for high-density screens\n"
               "  -b          also images three times -H high, for big screens\n"
               "  -n          page numbers on the index pages, positions on the image pages\n"
               "  -C          album covers on the gallery index page\n"
               "  -i          HEIF and AVIF photographs too (.heic, .heif, .avif)\n"
               "  -a          arrow keys and swipe on the pages\n"
               "  -m          the modern gallery: -2 -b -n -C -i -a in one letter\n"
               "  -j <n>      threads for the images of an album (default: one per usable CPU)\n"
               "  -p <K/N>    derive only part K of N of the images, for batch engines\n"
               "              (default: all of them)\n"
               "  -q          quiet: print only the photos made and the orphans deleted, then\n"
               "              a summary line; on a terminal, a progress line\n"
               "  -k          keep going past a photo that cannot be read: leave it out,\n"
               "              count it, and exit with status 1 at the end\n"
               "  -v          print the version on standard error and exit\n"
               "  --help      print this help and exit\n"
               "  --version   print the version and exit\n"
               "\n"
               "The pages use vistrel.css in the gallery, written there when missing and never\n"
               "replaced: edit it to restyle. The manual page tells the rest: man vistrel\n",
               defaults.columns, defaults.rows, defaults.thumb_height, defaults.scaled_height,
               defaults.default_title.c_str());
}

// GNU's two long options, recognised as whole words where an option may
// stand; every other word starting with "--" is left to getopt as before.
bool long_option(const char *word, const char *name)
{
    return word[0] == '-' && word[1] == '-' && std::strcmp(word + 2, name) == 0;
}

}  // namespace

command_line parse_command_line(int argc, char **argv)
{
    settings_record settings;
    // The leading '+' keeps glibc from permuting: words after the operand
    // are operands, not options.
    // The leading ':' has getopt leave its diagnostics to us, so that a word
    // of the command line reaches a terminal as safely as any name.
    static constexpr const char *option_string = "+:c:d:h:H:j:p:r:s:2abCDeEfiklmnoqv";
    opterr = 0;
    for (;;) {
        // getopt is between words here: an option argument it took is
        // behind optind already.
        if (optind < argc && long_option(argv[optind], "help")) {
            write_help();
            std::exit(0);
        }
        if (optind < argc && long_option(argv[optind], "version")) {
            std::printf("vistrel %s\n", vistrel_version);
            std::exit(0);
        }
        const int option = getopt(argc, argv, option_string);
        if (option == -1) break;
        switch (option) {
        case 'c':
        case 'r':
        case 'h':
        case 'H':
        case 'j':
            if (!set_positive(settings.*numeric_field(static_cast<char>(option)), optarg))
                invalid_argument(static_cast<char>(option), optarg, settings);
            break;
        case 'd': settings.default_title = optarg; break;
        case 'p':
            if (!set_part(settings.part, optarg)) invalid_argument('p', optarg, settings);
            break;
        case 's':
            if (!set_order(settings.image_order, optarg)) invalid_argument('s', optarg, settings);
            break;
        case 'e': settings.exif_mode = exif_mode::comment; break;
        case 'E': settings.exif_mode = exif_mode::none; break;
        case 'D': settings.show_caption = true; break;
        case '2': settings.double_density = true; break;
        case 'b': settings.big_screens = true; break;
        case 'a': settings.arrow_keys = true; break;
        case 'n': settings.page_numbers = true; break;
        case 'C': settings.album_covers = true; break;
        case 'i': settings.heif_photos = true; break;
        case 'm':
            settings.double_density = true;
            settings.page_numbers = true;
            settings.album_covers = true;
            settings.heif_photos = true;
            settings.big_screens = true;
            settings.arrow_keys = true;
            break;
        case 'f': settings.force = true; break;
        case 'l': settings.bilinear = true; break;
        case 'o': settings.remove_orphans = false; break;
        case 'q': settings.quiet = true; break;
        case 'k': settings.keep_going = true; break;
        case 'v': std::fprintf(stderr, "vistrel version %s\n", vistrel_version); std::exit(0);
        case ':': note::missing_argument(optopt); usage(settings);
        default: note::invalid_option(optopt); usage(settings);
        }
    }
    if (argc - optind != 1) usage(settings);
    return {std::move(settings), argv[optind]};
}
