// Stand-in for <winreg.h>.
#pragma once
#include <windows.h>
