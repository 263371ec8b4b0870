// PNG files of screenshots: 24-bit RGB, stored (uncompressed) deflate
// blocks, so no compression library is needed on the Windows side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wine_test {

// rgb: width * height pixels, 3 bytes each, rows top to bottom.
bool WritePng(const std::wstring& path, int width, int height, const std::vector<uint8_t>& rgb);

}  // namespace wine_test
