// Certificate contexts, stores, names, chains and PKCS#12 (PFX) calls of the stand-in.
#pragma once

