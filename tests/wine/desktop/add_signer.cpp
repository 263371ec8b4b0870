// Puts one signer into the prefix's personal store for the sample desktop
// program: a certificate of the subject given as the first argument, issued
// to a fresh key of Wine's provider (wine_signer.h). Prints its thumbprint.
#include <cstdio>
#include <string>

#include "../wine_signer.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: add_signer SUBJECT\n", stderr);
    return 2;
  }
  std::wstring fingerprint;
  if (!wine_test::AddSignerToMy(L"korvessa-desktop-signer", argv[1], 0x21, &fingerprint)) {
    std::fprintf(stderr, "add_signer: failed (%lu)\n", GetLastError());
    return 1;
  }
  std::printf("%ls\n", fingerprint.c_str());
  return 0;
}
