// Stand-in for <commdlg.h>.
#pragma once
#include <windows.h>
#include "kvwin/shell.h"
