// Stand-in for <shlobj.h>.
#pragma once
#include <windows.h>
#include "kvwin/shell.h"
