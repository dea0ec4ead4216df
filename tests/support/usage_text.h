// The usage text as the user sees it, with the values it shows: its bytes
// are fixed, and the tests hold the program's to these.
#pragma once

#include <string>

#include "base/settings.h"

// What the usage text shows, the defaults unless an option set them.
struct usage_values {
    int columns = settings_record().columns;
    int rows = settings_record().rows;
    int thumb_height = settings_record().thumb_height;
    int scaled_height = settings_record().scaled_height;
    std::string title = settings_record().default_title;
};

std::string usage_text(const usage_values &values = {});

// The usage text, then the line that follows it whenever it is written.
std::string usage_then_hint(const usage_values &values = {});
