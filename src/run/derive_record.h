// The record of the options that shape the derived images, kept in the
// gallery beside the lock file, so that part runs (-p) and the pages run
// after them cannot be given different ones: the derived files of one and
// the pages of the other would disagree, and freshness cannot tell.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/failure.h"
#include "base/files.h"
#include "base/settings.h"

// Its name in the gallery: a dot file, so never taken for an album.
inline constexpr const char *derive_record_name = ".derive-options";

// The options that shape the derived images, as they would be written on a
// command line: the letter and its argument, empty for a flag given; a flag
// not given is not there. In the order of the option table.
using derive_options = std::vector<std::pair<char, std::string>>;
derive_options shaping_options(const settings_record &config);

// Checks the run's shaping options against the gallery's record and
// records them. A part run (config.part) is refused when the record holds
// others; so is a whole run after parts that recorded others (the pages
// run). A whole run after a whole run with other options is taken, as it
// always was. -f, which derives everything again, replaces the record. A
// gallery without one gets one. Called with the gallery locked.
outcome check_derive_record(const open_dir &gallery, const std::string &operand,
                            const settings_record &config);

// Removes the temporary files that killed runs left while writing the
// record. Only for a run that holds the gallery alone.
void remove_derive_record_leftovers(const open_dir &gallery, const std::vector<dir_entry> &entries);
