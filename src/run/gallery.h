// The gallery run: every album of the gallery, then its index page.
#pragma once

#include <string>

#include "base/settings.h"

// Derives and pages every album of the gallery and writes the gallery index
// page. Returns the exit status: 0 after a complete run, 1 after a failure,
// whose message it has written.
int run_gallery(std::string gallery_path, const settings_record &config);
