// The album's cache directories, one per derived image.
#pragma once

#include "base/derived_images.h"
#include "base/failure.h"
#include "base/settings.h"

// Makes sure every cache directory this run makes is a directory, creating
// the missing ones, and holds each open in dirs.cache. Anything else in
// their place, or one the run may not make or open, fails with kind
// bad_album; other failures (of the system) end the run. Temporary derived
// files left in them by a run that was killed are removed: the caller holds
// the gallery's lock alone.
[[nodiscard]] outcome open_cache_dirs(album_dirs &dirs, const settings_record &config);
