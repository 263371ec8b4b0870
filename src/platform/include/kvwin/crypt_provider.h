// Cryptographic provider calls of the stand-in: providers, key containers, keys, hashes, signatures and symmetric encryption.
#pragma once

