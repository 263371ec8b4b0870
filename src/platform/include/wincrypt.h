// Stand-in for <wincrypt.h>.
#pragma once

#include <windows.h>
#include "kvwin/crypt_types.h"
#include "kvwin/crypt_provider.h"
#include "kvwin/cert_store.h"
#include "kvwin/crypt_message.h"
