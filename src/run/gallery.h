// The gallery run: every album of the gallery, then its index page.
#pragma once

#include <string>

// Derives and pages every album of the gallery, writes the gallery index
// page, and ends the run.
[[noreturn]] void run_gallery(std::string gallery_path);
