#include "run/version.h"

// The build defines it for this file alone, so a new version rebuilds
// only this file.
const char *const vistrel_version = VISTREL_VERSION;
