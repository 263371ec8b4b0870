// Stand-in for <winerror.h>.
#pragma once
#include <windows.h>
