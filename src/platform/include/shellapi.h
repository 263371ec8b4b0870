// Stand-in for <shellapi.h>.
#pragma once
#include <windows.h>
#include "kvwin/shell.h"
