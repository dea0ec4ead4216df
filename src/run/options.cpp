#include "run/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/version.h"

namespace option_set {

bool positive(int32_t &field, const char *argument)
{
    char *end = nullptr;
    const long value = std::strtol(argument, &end, 10);
    field = static_cast<int32_t>(value);
    return end != argument && *end == '\0' && field > 0;
}

bool title(settings_record &settings, const char *argument)
{
    settings.default_title = argument;
    return true;
}

bool order(settings_record &settings, const char *argument)
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
        if (std::strcmp(argument, known.name) == 0) {
            settings.image_order = known.order;
            return true;
        }
    }
    return false;
}

bool part(settings_record &settings, const char *argument)
{
    // Decimal digits only: no sign, no blank.
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
    const char *text = argument;
    if (!number(text, parsed.index) || *text++ != '/' || !number(text, parsed.count) ||
        *text != '\0' || parsed.index > parsed.count)
        return false;
    settings.part = parsed;
    return true;
}

bool modern(settings_record &settings, const char *)
{
    settings.double_density = true;
    settings.big_screens = true;
    settings.page_numbers = true;
    settings.album_covers = true;
    settings.heif_photos = true;
    settings.videos = true;
    settings.arrow_keys = true;
    settings.album_tree = true;
    settings.folder_titles = true;
    return true;
}

// Ends the run at once, whatever words follow.
bool version(settings_record &, const char *)
{
    std::fprintf(stderr, "vistrel version %s\n", vistrel_version);
    std::exit(0);
}

}  // namespace option_set
