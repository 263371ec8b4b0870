// Stand-in for <winver.h>.
#pragma once
#include <windows.h>
