// Core services that take Windows types. Windows build only.
#pragma once

#include <windows.h>

#include "quarn/core/core.h"

// The file time as local date and time.
void ConvertFileTimeToDateTime(const FILETIME* time, DateTimeRecord* out);
