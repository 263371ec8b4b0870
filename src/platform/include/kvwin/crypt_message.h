// Object encoding and decoding, PKCS#10 signing and PKCS#7 message calls of the stand-in.
#pragma once

