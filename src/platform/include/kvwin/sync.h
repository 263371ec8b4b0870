// Named file mappings, named events and the security-descriptor calls, on POSIX shared memory.
#pragma once

