// Stand-in for <shlwapi.h>.
#pragma once
#include <windows.h>
#include "kvwin/shell.h"
