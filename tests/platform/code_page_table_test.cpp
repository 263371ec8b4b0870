// The table-driven conversions give what iconv gives for the whole text:
// every BMP unit and every byte and byte pair of each double-byte code page
// and one single-byte one, compared with iconv converting the same input
// with the Windows replacement rule (one replacement per failing unit or
// byte, then on with the next).
#include <iconv.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

namespace {

// 949 stays with iconv (see the table's For).
const UINT kCodePages[] = {950, 932, 936, 1252};

std::string IconvName(UINT cp) { return "CP" + std::to_string(cp); }

// iconv over the whole input; on a failure the replacement stands for one
// unit (`step` bytes) and iconv starts again after it.
std::string Reference(const char* to, const char* from, const std::string& input, size_t step,
                      const std::string& replacement) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out;
  char* in = const_cast<char*>(input.data());
  size_t left = input.size();
  char chunk[256];
  while (left > 0) {
    char* o = chunk;
    size_t room = sizeof chunk;
    size_t rc = iconv(cd, &in, &left, &o, &room);
    out.append(chunk, static_cast<size_t>(o - chunk));
    if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
    out += replacement;
    size_t skip = left < step ? left : step;
    in += skip;
    left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

std::string Narrow(UINT cp, const std::u16string& wide) {
  int n = WideCharToMultiByte(cp, 0, reinterpret_cast<LPCWSTR>(wide.data()), static_cast<int>(wide.size()), nullptr,
                              0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, reinterpret_cast<LPCWSTR>(wide.data()), static_cast<int>(wide.size()), &out[0], n,
                      nullptr, nullptr);
  return out;
}

std::string WidenAsBytes(UINT cp, const std::string& bytes) {
  int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), reinterpret_cast<LPWSTR>(&out[0]), n);
  return std::string(reinterpret_cast<const char*>(out.data()), out.size() * 2);
}

std::string Utf16Bytes(const std::u16string& s) {
  return std::string(reinterpret_cast<const char*>(s.data()), s.size() * 2);
}

TEST(CodePageTable, EveryUnitNarrowsAsIconvDoes) {
  for (UINT cp : kCodePages) {
    // All 65536 units in one text, so each unit's neighbours are in place too.
    std::u16string all;
    for (unsigned u = 1; u < 0x10000; ++u) all.push_back(static_cast<char16_t>(u));
    EXPECT_EQ(Narrow(cp, all), Reference(IconvName(cp).c_str(), "UTF-16LE", Utf16Bytes(all), 2, "?")) << cp;
  }
}

TEST(CodePageTable, EveryByteAndPairWidensAsIconvDoes) {
  const std::string replacement("?\0", 2);
  for (UINT cp : kCodePages) {
    std::string singles;
    for (unsigned b = 1; b < 0x100; ++b) singles.push_back(static_cast<char>(b));
    EXPECT_EQ(WidenAsBytes(cp, singles), Reference("UTF-16LE", IconvName(cp).c_str(), singles, 1, replacement)) << cp;
    // Each pair alone, and each pair followed by a byte that could be read
    // as its second half's partner.
    for (unsigned lead = 0x80; lead < 0x100; ++lead) {
      std::string pairs;
      for (unsigned trail = 0; trail < 0x100; ++trail) {
        pairs.push_back(static_cast<char>(lead));
        pairs.push_back(static_cast<char>(trail));
        pairs.push_back('A');
      }
      ASSERT_EQ(WidenAsBytes(cp, pairs), Reference("UTF-16LE", IconvName(cp).c_str(), pairs, 1, replacement))
          << cp << " lead " << lead;
    }
  }
}

TEST(CodePageTable, RandomTextsAgreeBothWays) {
  std::mt19937 random(950);
  for (UINT cp : kCodePages) {
    for (int round = 0; round < 50; ++round) {
      std::string bytes;
      for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<char>(random() & 0xFF));
      std::string wide = Reference("UTF-16LE", IconvName(cp).c_str(), bytes, 1, std::string("?\0", 2));
      ASSERT_EQ(WidenAsBytes(cp, bytes), wide) << cp;
      std::u16string units(reinterpret_cast<const char16_t*>(wide.data()), wide.size() / 2);
      ASSERT_EQ(Narrow(cp, units), Reference(IconvName(cp).c_str(), "UTF-16LE", wide, 2, "?")) << cp;
    }
  }
}

}  // namespace
