// Compiled by the layering tests (layering.cmake), not into the test binary:
// with a layer's include root the allowed header must compile, and the one
// named by KV_PROBE_WRONG_WAY, from a layer above, must not be found.
#include KV_PROBE_ALLOWED
#ifdef KV_PROBE_WRONG_WAY
#include KV_PROBE_WRONG_WAY
#endif
