// Stand-in for <winbase.h>.
#pragma once
#include <windows.h>
