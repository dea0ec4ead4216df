#include "run/command_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/messages.h"
#include "base/report.h"
#include "base/settings.h"

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

[[noreturn]] void invalid_argument(char option, const char *arg)
{
    note::invalid_argument(option, arg);
    usage();
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

void usage()
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
               settings.columns, settings.rows, settings.thumb_height, settings.scaled_height,
               settings.default_title.c_str());
    std::exit(1);
}

std::string parse_command_line(int argc, char **argv)
{
    // The leading '+' keeps glibc from permuting: words after the operand
    // are operands, not options.
    // The leading ':' has getopt leave its diagnostics to us, so that a word
    // of the command line reaches a terminal as safely as any name.
    static constexpr const char *option_string = "+:c:d:h:H:j:p:r:s:2CDeEfilnov";
    opterr = 0;
    int option;
    while ((option = getopt(argc, argv, option_string)) != -1) {
        switch (option) {
        case 'c':
        case 'r':
        case 'h':
        case 'H':
        case 'j':
            if (!set_positive(settings.*numeric_field(static_cast<char>(option)), optarg))
                invalid_argument(static_cast<char>(option), optarg);
            break;
        case 'd': settings.default_title = optarg; break;
        case 'p':
            if (!set_part(settings.part, optarg)) invalid_argument('p', optarg);
            break;
        case 's':
            if (!set_order(settings.image_order, optarg)) invalid_argument('s', optarg);
            break;
        case 'e': settings.exif_mode = exif_mode::comment; break;
        case 'E': settings.exif_mode = exif_mode::none; break;
        case 'D': settings.show_caption = true; break;
        case '2': settings.double_density = true; break;
        case 'n': settings.page_numbers = true; break;
        case 'C': settings.album_covers = true; break;
        case 'i': settings.heif_photos = true; break;
        case 'f': settings.force = true; break;
        case 'l': settings.bilinear = true; break;
        case 'o': settings.remove_orphans = false; break;
        case 'v': std::fprintf(stderr, "vistrel version %s\n", vistrel_version); std::exit(0);
        case ':': note::missing_argument(optopt); usage();
        default: note::invalid_option(optopt); usage();
        }
    }
    if (argc - optind != 1) usage();
    return argv[optind];
}
