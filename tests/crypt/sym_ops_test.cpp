// SymEncrypt / SymDecrypt and CSymCipher: agreement with `openssl enc` in both
// directions at every length around the block boundaries, in both text forms;
// wrong keys and damaged ciphertexts as 9005; the parameter codes.
#include <gtest/gtest.h>

#include <oleauto.h>

#include <openssl/evp.h>

#include <optional>

#include "crypt/crypt_test_support.h"
#include "crypt/sym_cipher.h"
#include "engine/capi_engine.h"
#include "vocabulary/text.h"
#include "sign/sign_test_support.h"
#include "support/test_pki.h"
#include "ui/dialog_test_support.h"

namespace kv::test {
namespace {

struct SymCase {
  const char* openssl;  // openssl enc cipher
  LONG algorithm;       // iAlgorithm
  const char* keyHex;
};

const SymCase kCases[] = {
    {"-des-cbc", 1, "0123456789ABCDEF"},
    {"-des-ede-cbc", 0, "0123456789ABCDEFFEDCBA9876543210"},
    {"-des-ede3-cbc", 0, "0123456789ABCDEFFEDCBA987654321089ABCDEF01234567"},
};

// A text of `units` UTF-16 code units, mixing ASCII with Big5 characters.
std::u16string MixedText(size_t units) {
  const std::u16string pool = Utf16("交易abc內容XYZ憑證0123");
  std::u16string out;
  for (size_t i = 0; i < units; ++i) out.push_back(pool[i % pool.size()]);
  return out;
}

std::string AsciiBytes(size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>('a' + i % 26));
  return out;
}

std::string Unhex(const std::string& hex) {
  std::vector<uint8_t> bytes = FromHex(hex);
  return std::string(bytes.begin(), bytes.end());
}

class SymOps : public HomeTest {
 protected:
  OpResult Encrypt(const std::u16string& text, const std::string& key, LONG algorithm, LONG flags) {
    return Outcome(engine_, engine_.SymEncrypt(WideBstr(text), Utf8Bstr(key), algorithm, flags));
  }
  OpResult Decrypt(const std::string& cipher, const std::string& key, LONG algorithm, LONG flags) {
    return Outcome(engine_, engine_.SymDecrypt(Utf8Bstr(cipher), Utf8Bstr(key), algorithm, flags));
  }
  std::vector<std::string> OpenSsl(const SymCase& c, bool encrypt, const std::vector<std::string>& inputs) {
    return RunOverFiles(folder_.path(),
                        std::string("openssl enc ") + (encrypt ? "" : "-d ") + c.openssl + kOpenSslLegacy + " -K " +
                            c.keyHex + " -iv 0000000000000000 -in {in} -out {out}",
                        inputs);
  }

  TempFolder folder_;
  CCapiEngine engine_;
};

TEST_F(SymOps, EncryptionEqualsOpenSslAtEveryLength) {
  for (const SymCase& c : kCases) {
    // Code page 950 form: 1 to 64 bytes (an empty text is refused).
    std::vector<std::u16string> ansiTexts;
    std::vector<std::string> ansiBytes;
    for (size_t n = 1; n <= 64; ++n) {
      ansiTexts.push_back(Utf16(AsciiBytes(n)));
      ansiBytes.push_back(AsciiBytes(n));
    }
    // Big5 characters take two bytes each.
    ansiTexts.push_back(MixedText(21));
    ansiBytes.push_back(AnsiBytes(MixedText(21)));
    std::vector<std::string> expected = OpenSsl(c, true, ansiBytes);
    for (size_t i = 0; i < ansiTexts.size(); ++i) {
      OpResult r = Encrypt(ansiTexts[i], c.keyHex, c.algorithm, 0x800);
      ASSERT_EQ(0, r.code) << c.openssl << " length " << ansiBytes[i].size();
      EXPECT_EQ(Base64(expected[i]), std::string(r.text.begin(), r.text.end()))
          << c.openssl << " length " << ansiBytes[i].size();
    }
    // UTF-16LE form: 2 to 64 bytes.
    std::vector<std::u16string> wideTexts;
    std::vector<std::string> wideBytes;
    for (size_t units = 1; units <= 32; ++units) {
      wideTexts.push_back(MixedText(units));
      wideBytes.push_back(Utf16LeBytes(MixedText(units)));
    }
    expected = OpenSsl(c, true, wideBytes);
    for (size_t i = 0; i < wideTexts.size(); ++i) {
      OpResult r = Encrypt(wideTexts[i], c.keyHex, c.algorithm, 0);
      ASSERT_EQ(0, r.code);
      EXPECT_EQ(Base64(expected[i]), std::string(r.text.begin(), r.text.end()))
          << c.openssl << " length " << wideBytes[i].size();
    }
  }
}

TEST_F(SymOps, DecryptionReadsWhatOpenSslWrote) {
  for (const SymCase& c : kCases) {
    std::vector<std::string> ansi;
    for (size_t n = 0; n <= 64; ++n) ansi.push_back(AsciiBytes(n));
    ansi.push_back(AnsiBytes(MixedText(21)));
    std::vector<std::string> ciphers = OpenSsl(c, true, ansi);
    for (size_t i = 0; i < ansi.size(); ++i) {
      OpResult r = Decrypt(Base64(ciphers[i]), c.keyHex, c.algorithm, 0x800);
      EXPECT_EQ(0, r.code) << c.openssl << " length " << ansi[i].size();
      EXPECT_EQ(ansi[i], AnsiBytes(r.text)) << c.openssl << " length " << ansi[i].size();
    }
    std::vector<std::u16string> texts;
    std::vector<std::string> wide;
    for (size_t units = 0; units <= 32; ++units) {
      texts.push_back(MixedText(units));
      wide.push_back(Utf16LeBytes(texts.back()));
    }
    ciphers = OpenSsl(c, true, wide);
    for (size_t i = 0; i < wide.size(); ++i) {
      OpResult r = Decrypt(Base64(ciphers[i]), c.keyHex, c.algorithm, 0);
      EXPECT_EQ(0, r.code) << c.openssl << " length " << wide[i].size();
      EXPECT_EQ(texts[i], r.text) << c.openssl << " length " << wide[i].size();
    }
  }
}

TEST_F(SymOps, OpenSslReadsWhatWeWrote) {
  for (const SymCase& c : kCases) {
    std::vector<std::string> plains, ciphers;
    for (size_t units = 1; units <= 32; ++units) {
      plains.push_back(Utf16LeBytes(MixedText(units)));
      ciphers.push_back(Unbase64(Encrypt(MixedText(units), c.keyHex, c.algorithm, 0).text));
    }
    EXPECT_EQ(plains, OpenSsl(c, false, ciphers)) << c.openssl;
  }
}

// OpenSSL's verdict on a CBC decryption with a zero IV: the plain bytes, or
// nullopt when the padding does not check.
std::optional<std::string> EvpDecrypt(const SymCase& c, const std::string& keyHex, const std::string& cipher) {
  LoadLegacyProvider();
  const EVP_CIPHER* type = c.algorithm == 1 ? EVP_des_cbc() : EVP_des_ede3_cbc();
  std::string key = Unhex(keyHex);
  if (key.size() == 16) key += key.substr(0, 8);
  const unsigned char iv[8] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  std::string out(cipher.size() + 8, '\0');
  int n1 = 0, n2 = 0;
  bool ok = EVP_DecryptInit_ex(ctx, type, nullptr, reinterpret_cast<const unsigned char*>(key.data()), iv) == 1 &&
            EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &n1,
                              reinterpret_cast<const unsigned char*>(cipher.data()), static_cast<int>(cipher.size())) == 1 &&
            EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[0]) + n1, &n2) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return std::nullopt;
  out.resize(static_cast<size_t>(n1 + n2));
  return out;
}

TEST_F(SymOps, WrongKeyAndDamagedCiphertextAreDecryptionErrors) {
  for (const SymCase& c : kCases) {
    std::string wrongKey = c.keyHex;
    wrongKey[0] = wrongKey[0] == '0' ? '2' : '0';  // another key, not just another parity bit
    for (size_t n = 1; n <= 64; ++n) {
      const std::string what = std::string(c.openssl) + " length " + std::to_string(n);
      // UTF-16 text: a wrong key is always caught.
      if (n % 2 == 0) {
        const std::string cipher = Unbase64(Encrypt(MixedText(n / 2), c.keyHex, c.algorithm, 0).text);
        SetLastError(0xdeadbeef);
        OpResult wrong = Decrypt(Base64(cipher), wrongKey, c.algorithm, 0);
        EXPECT_EQ(ERR_CIPHER_DECRYPT, wrong.code) << what;
        EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), wrong.capiError) << what;
        EXPECT_TRUE(wrong.text.empty()) << what;
      }
      // Code-page text: only the padding can tell, exactly as OpenSSL sees it.
      const std::u16string text = Utf16(AsciiBytes(n));
      const std::string cipher = Unbase64(Encrypt(text, c.keyHex, c.algorithm, 0x800).text);
      ASSERT_EQ(0u, cipher.size() % 8);
      std::optional<std::string> reference = EvpDecrypt(c, wrongKey, cipher);
      OpResult wrong = Decrypt(Base64(cipher), wrongKey, c.algorithm, 0x800);
      if (!reference) {
        EXPECT_EQ(ERR_CIPHER_DECRYPT, wrong.code) << what;
        EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), wrong.capiError) << what;
        EXPECT_TRUE(wrong.text.empty()) << what;
      } else {
        EXPECT_EQ(0, wrong.code) << what;
        EXPECT_EQ(kv::NarrowToWide(reference->substr(0, reference->find('\0'))), wrong.text) << what;
      }

      // A piece short of a whole block.
      OpResult cut = Decrypt(Base64(cipher.substr(0, cipher.size() - 1)), c.keyHex, c.algorithm, 0x800);
      EXPECT_EQ(ERR_CIPHER_DECRYPT, cut.code) << what;
      EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), cut.capiError);
      EXPECT_TRUE(cut.text.empty());

      // A bit changed in the block before the last reaches the padding.
      if (cipher.size() >= 16) {
        std::string damaged = cipher;
        damaged[damaged.size() - 9] ^= 0x10;
        OpResult bad = Decrypt(Base64(damaged), c.keyHex, c.algorithm, 0x800);
        EXPECT_EQ(ERR_CIPHER_DECRYPT, bad.code) << what;
        EXPECT_TRUE(bad.text.empty());
      }
    }
  }
}

TEST_F(SymOps, ParameterCodes) {
  const std::string des = kCases[0].keyHex, twoKey = kCases[1].keyHex;
  struct Row {
    const char16_t* text;
    std::string key;
    LONG algorithm;
    LONG expected;
  };
  const Row rows[] = {
      {u"", des, 1, ERR_BAD_PARAM},          {u"abc", "", 1, ERR_BAD_PARAM},
      {u"abc", "012", 1, ERR_BAD_PARAM},     {u"abc", des, 2, ERR_CIPHER_ALGORITHM},
      {u"abc", des, -1, ERR_CIPHER_ALGORITHM}, {u"abc", twoKey, 1, ERR_CIPHER_PASSWORD_LENGTH},
      {u"abc", des, 0, ERR_CIPHER_PASSWORD_LENGTH}, {u"abc", "00112233445566778899AABBCCDDEEFF0011", 0,
                                                     ERR_CIPHER_PASSWORD_LENGTH},
  };
  for (const Row& row : rows) {
    OpResult r = Encrypt(row.text, row.key, row.algorithm, 0);
    EXPECT_EQ(row.expected, r.code) << row.key << " " << row.algorithm;
    EXPECT_EQ(0u, r.capiError);
    EXPECT_TRUE(r.text.empty());
  }
  EXPECT_EQ(ERR_BAD_PARAM, Outcome(engine_, engine_.SymEncrypt(nullptr, Utf8Bstr(des), 1, 0)).code);

  const std::u16string encrypted = Encrypt(u"abc", des, 1, 0).text;
  const std::string cipher(encrypted.begin(), encrypted.end());
  EXPECT_EQ(ERR_BAD_PARAM, Decrypt("", des, 1, 0).code);
  EXPECT_EQ(ERR_CIPHER_FORMAT, Decrypt("-----BEGIN X-----", des, 1, 0).code);
  EXPECT_EQ(ERR_CIPHER_FORMAT, Decrypt(" ", des, 1, 0).code);
  EXPECT_EQ(ERR_BAD_PARAM, Decrypt(cipher, "", 1, 0).code);
  EXPECT_EQ(ERR_BAD_PARAM, Decrypt(cipher, "0", 1, 0).code);
  EXPECT_EQ(ERR_CIPHER_ALGORITHM, Decrypt(cipher, des, 7, 0).code);
  EXPECT_EQ(ERR_CIPHER_PASSWORD_LENGTH, Decrypt(cipher, twoKey, 1, 0).code);

  // Protected mode: after the empty-text check, before the key checks.
  engine_.OverrideProtectedMode(true);
  EXPECT_EQ(ERR_BAD_PARAM, Encrypt(u"", des, 1, 0).code);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Encrypt(u"abc", "", 1, 0).code);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Encrypt(u"abc", des, 1, 0).code);
  EXPECT_EQ(ERR_CIPHER_FORMAT, Decrypt("-----BEGIN X-----", des, 1, 0).code);
  EXPECT_EQ(ERR_BAD_PARAM, Decrypt(cipher, "0", 1, 0).code);
  EXPECT_EQ(ERR_IE_PROTECTED_MODE, Decrypt(cipher, des, 1, 0).code);
  engine_.OverrideProtectedMode(false);

  // A success clears what a failure left.
  Decrypt(Base64("12345678"), des, 1, 0);
  ASSERT_NE(0u, engine_.PlatformError());
  OpResult ok = Decrypt(cipher, des, 1, 0);
  EXPECT_EQ(0, ok.code);
  EXPECT_EQ(0u, ok.capiError);
  EXPECT_EQ(u"abc", ok.text);
}

TEST_F(SymOps, ShapesOfTheOutput) {
  const std::string des = kCases[0].keyHex;
  // Three ANSI bytes or six UTF-16 bytes: one block, 12 Base64 characters.
  OpResult ansi = Encrypt(u"abc", des, 1, 0x800), wide = Encrypt(u"abc", des, 1, 0);
  EXPECT_EQ(12u, ansi.text.size());
  EXPECT_EQ(12u, wide.text.size());
  EXPECT_NE(ansi.text, wide.text);
  // A whole block of text gets a whole block of padding.
  EXPECT_EQ(16u, Unbase64(Encrypt(u"abcdefgh", des, 1, 0x800).text).size());
  // The IV is fixed: equal texts under equal keys give equal ciphertexts.
  EXPECT_EQ(ansi.text, Encrypt(u"abc", des, 1, 0x800).text);
  // Hex digits in either case give the same key.
  EXPECT_EQ(ansi.text, Encrypt(u"abc", "0123456789abcdef", 1, 0x800).text);
  // Both sides must use the same text form: four code-page bytes read as
  // two UTF-16 units are another text; three cannot be UTF-16 at all.
  OpResult four = Encrypt(u"abcd", des, 1, 0x800);
  OpResult crossed = Decrypt(std::string(four.text.begin(), four.text.end()), des, 1, 0);
  EXPECT_EQ(0, crossed.code);
  EXPECT_EQ(std::u16string({u'a' | (u'b' << 8), u'c' | (u'd' << 8)}), crossed.text);
  crossed = Decrypt(std::string(ansi.text.begin(), ansi.text.end()), des, 1, 0);
  EXPECT_EQ(ERR_CIPHER_DECRYPT, crossed.code);
  EXPECT_TRUE(crossed.text.empty());
}

TEST_F(SymOps, UnicodeTextSurvivesTheRoundTrip) {
  const std::string key = kCases[2].keyHex;
  // Characters outside code page 950 (a supplementary-plane character too).
  const std::u16string text = Utf16("ÄÖÜ – €100 😀 交易");
  OpResult cipher = Encrypt(text, key, 0, 0);
  ASSERT_EQ(0, cipher.code);
  OpResult back = Decrypt(std::string(cipher.text.begin(), cipher.text.end()), key, 0, 0);
  EXPECT_EQ(0, back.code);
  EXPECT_EQ(text, back.text);
  // In the code page form they were never there to begin with.
  cipher = Encrypt(text, key, 0, 0x800);
  back = Decrypt(std::string(cipher.text.begin(), cipher.text.end()), key, 0, 0x800);
  EXPECT_EQ(0, back.code);
  EXPECT_EQ(AnsiBytes(text), AnsiBytes(back.text));
  EXPECT_NE(text, back.text);
}

TEST_F(SymOps, KeyTextsAreReadByTheirCodePageBytes) {
  const std::string cipher = [&] {
    std::u16string t = Encrypt(u"abc", kCases[0].keyHex, 1, 0).text;
    return std::string(t.begin(), t.end());
  }();
  // Any character the code page carries decodes by the hex arithmetic, as
  // pages have relied on: each text is the key of its twin.
  struct Twin {
    std::u16string text;
    const char* hex;
    LONG algorithm;
  };
  const Twin twins[] = {
      {std::u16string(48, u'z'), "535353535353535353535353535353535353535353535353", 0},
      {u"0x0123456789ABCD", "210123456789ABCD", 1},
      {u"01 23 45 67 89AB", "01022045066089AB", 1},
      {Utf16("交易交易交易交易"), nullptr, 1},
  };
  for (const Twin& t : twins) {
    OpResult r = Outcome(engine_, engine_.SymEncrypt(WideBstr(u"abc"), WideBstr(t.text), t.algorithm, 0));
    EXPECT_EQ(0, r.code) << AnsiBytes(t.text);
    if (t.hex) {
      EXPECT_EQ(Encrypt(u"abc", t.hex, t.algorithm, 0).text, r.text) << t.hex;
    }
  }
  // Characters it cannot carry would all narrow to '?': refused, whatever
  // the length would have been.
  std::u16string emoji, surrogates;
  for (char32_t c = U'\U0001F600'; c < U'\U0001F600' + 24; ++c) {
    emoji.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
    emoji.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
  }
  for (int i = 0; i < 48; ++i) surrogates.push_back(static_cast<char16_t>((i % 2 ? 0xDC00 : 0xD800) + i));
  struct Refused {
    std::u16string text;
    LONG algorithm;
  };
  const Refused refused[] = {{emoji, 0}, {surrogates, 0}, {Utf16("ä123456789ABCDEF0").substr(0, 16), 1}};
  for (const Refused& k : refused) {
    OpResult e = Outcome(engine_, engine_.SymEncrypt(WideBstr(u"abc"), WideBstr(k.text), k.algorithm, 0));
    EXPECT_EQ(ERR_CIPHER_PASSWORD_LENGTH, e.code);
    EXPECT_TRUE(e.text.empty());
    OpResult d = Outcome(engine_, engine_.SymDecrypt(Utf8Bstr(cipher), WideBstr(k.text), k.algorithm, 0));
    EXPECT_EQ(ERR_CIPHER_PASSWORD_LENGTH, d.code);
    EXPECT_TRUE(d.text.empty());
  }
}

TEST(SymCipher, SettersAndRefusals) {
  ScopedHome home;
  CSymCipher cipher;
  EXPECT_EQ(static_cast<ALG_ID>(CALG_DES), cipher.Algorithm());
  cipher.SetAlgorithm(CALG_3DES_112);
  EXPECT_EQ(static_cast<ALG_ID>(CALG_3DES_112), cipher.Algorithm());
  cipher.SetAlgorithm(CALG_RC4);
  EXPECT_EQ(static_cast<ALG_ID>(CALG_DES), cipher.Algorithm());
  cipher.SetMode(4);
  EXPECT_EQ(4u, cipher.Mode());
  cipher.SetMode(0);
  EXPECT_EQ(static_cast<DWORD>(CRYPT_MODE_CBC), cipher.Mode());
  cipher.SetMode(5);
  EXPECT_EQ(static_cast<DWORD>(CRYPT_MODE_CBC), cipher.Mode());

  const BYTE key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const BYTE data[16] = {};
  cipher.SetKey(key, 8);
  EXPECT_FALSE(cipher.Encrypt(nullptr, 8));
  EXPECT_FALSE(cipher.Encrypt(data, 0));
  EXPECT_FALSE(cipher.Decrypt(data, 0));
  // Without a key the provider refuses the import.
  cipher.SetKey(nullptr, 0);
  SetLastError(0);
  EXPECT_FALSE(cipher.Encrypt(data, 8));
  EXPECT_NE(0u, cipher.LastError());
  EXPECT_TRUE(cipher.Empty());
  // A mode the provider does not run.
  cipher.SetKey(key, 8);
  cipher.SetMode(CRYPT_MODE_OFB);
  EXPECT_FALSE(cipher.Encrypt(data, 8));
  EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), cipher.LastError());
  cipher.SetMode(CRYPT_MODE_CBC);
  ASSERT_TRUE(cipher.Encrypt(data, 16));
  EXPECT_EQ(24, cipher.Size());
}

}  // namespace
}  // namespace kv::test
