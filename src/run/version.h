// The version vistrel -v and --version print and the page footers carry.
#pragma once

extern const char *const vistrel_version;
