// Stand-in for <oleauto.h>.
#pragma once
#include <windows.h>
