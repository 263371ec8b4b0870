/* Configuration of the mbed TLS part built into the Windows DLL: the
 * multi-precision integers of the key consistency check and nothing else.
 * Every file of that part, and every file that includes its headers, sees
 * this one configuration, so the integer layout is the same on both sides. */
#ifndef KV_MBEDTLS_CONFIG_H
#define KV_MBEDTLS_CONFIG_H

#define MBEDTLS_BIGNUM_C
/* The library insists on its platform layer on Windows (it mends the C
 * runtime's snprintf there); the integers themselves allocate with calloc. */
#define MBEDTLS_PLATFORM_C

#include "mbedtls/check_config.h"

#endif
