// Stand-in for <windows.h>: the subset of Win32 the engine uses, with the
// real names, types, constants and layouts.
#pragma once

#include "kvwin/types.h"
#include "kvwin/errors.h"
#include "kvwin/kernel.h"
#include "kvwin/time.h"
#include "kvwin/oleauto.h"
#include "kvwin/registry.h"
#include "kvwin/sync.h"
#include "kvwin/user.h"
#include "kvwin/version.h"
