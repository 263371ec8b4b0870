// The Wine test host: loads korvessa.dll the way a desktop program does and
// runs the check groups. Usage: korvessa_wine_host <dll> <output folder>
// [groups...] where a group is engine, store or dialogs (default: all).
// Exit status 0 when every check passed.
#include <cstdio>
#include <string>

#include "checks.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: korvessa_wine_host <korvessa.dll> <output folder> [engine|store|dialogs...]\n");
    return 2;
  }
  wine_test::SetOutputFolder(argv[2]);
  auto wanted = [&](const wchar_t* group) {
    if (argc == 3) return true;
    for (int i = 3; i < argc; ++i)
      if (std::wstring(argv[i]) == group) return true;
    return false;
  };
  wine_test::Report report;
  wine_test::Library library;
  if (!report.Check(library.Load(argv[1]), "LoadLibrary korvessa.dll", std::to_wstring(GetLastError()))) return 1;
  if (wanted(L"engine")) wine_test::CheckEngine(library, report);
  if (wanted(L"store")) wine_test::CheckStore(library, report);
  if (wanted(L"dialogs")) wine_test::CheckDialogs(library, report);
  std::printf("# %d passed, %d failed, %d exports missing\n", report.Passed(), report.Failed(), library.Missing());
  return report.Failed() || library.Missing() ? 1 : 0;
}
