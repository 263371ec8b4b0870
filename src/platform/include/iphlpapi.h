// Stand-in for <iphlpapi.h>.
#pragma once
#include <windows.h>
#include "kvwin/iphlpapi.h"
