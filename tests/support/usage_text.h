// The usage text as the user sees it, with the values it shows.
#pragma once

#include <string>

struct usage_values {
    int columns = 5;
    int rows = 3;
    int thumb_height = 96;
    int scaled_height = 480;
    std::string title = "my webgallery";
};

std::string usage_text(const usage_values &values = {});
