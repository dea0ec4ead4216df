#include "run/settings.h"

settings_record settings;
