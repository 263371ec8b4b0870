// The administrator's default digest: a machine value that moves every
// signature and certificate request that names no digest to SHA-256.
#pragma once

namespace kv::sign {

// HKLM\SOFTWARE\Korvessa\CAPI, value "DefaultDigestSha256" (REG_DWORD 1).
// Read at every call, so a changed policy applies without a restart.
bool MachineDefaultsToSha256();

}  // namespace kv::sign
