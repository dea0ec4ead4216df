#include "base/settings.h"

settings_record settings;
