// korvessa-nm: the native messaging host the browser extension talks to
// (started by the browser, one process per connection), and the command
// that registers it with the browsers.
//
//   korvessa-nm [ARGS FROM THE BROWSER]   serve one connection on stdin/stdout
//   korvessa-nm --install [--system]      write the host manifests (and on
//                                         Windows the registry keys naming them)
//   korvessa-nm --install --profile DIR   the manifest of a Chromium or Chrome
//                                         started with --user-data-dir=DIR
//   korvessa-nm --uninstall [--system | --profile DIR]  take the registration back
//   korvessa-nm --print-manifest BROWSER  print one (chromium or firefox)
#include <cstdio>
#include <string>

#include "korvessa-nm/install.h"
#include "korvessa-nm/native_host.h"
#include "korvessa-nm/platform_io.h"
#include "korvessa/library.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

void PrintUsage(FILE* to) {
  std::fputs(
      "usage: korvessa-nm --install [--system]   register the host with Chromium, Chrome and Firefox\n"
      "                                          (the user's profile; --system: for every user)\n"
      "       korvessa-nm --install --profile DIR  for Chromium or Chrome started with --user-data-dir=DIR\n"
      "       korvessa-nm --uninstall [--system | --profile DIR]   take that registration back\n"
      "       korvessa-nm --print-manifest chromium|firefox   print the manifest --install writes\n"
      "       korvessa-nm                        serve the browser extension (the browser starts it)\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
  std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (first == "--install" || first == "--uninstall") {
    bool system = false;
    bool profileGiven = false;
    std::string profile;
    for (int i = 2; i < argc; ++i) {
      std::string arg = argv[i];
      if (arg == "--system" && !profileGiven) {
        system = true;
      } else if (arg == "--profile" && i + 1 < argc && *argv[i + 1] && !system && !profileGiven) {
        profileGiven = true;
        profile = argv[++i];
      } else {
        PrintUsage(stderr);
        return kExitUsage;
      }
    }
    bool install = first == "--install";
    if (profileGiven) return korvessa::ProfileManifest(profile, install);
    return install ? korvessa::InstallManifests(system) : korvessa::UninstallManifests(system);
  }
  if (first == "--print-manifest") {
    std::string which = argc == 3 ? argv[2] : "";
    if (which != "chromium" && which != "firefox") {
      PrintUsage(stderr);
      return kExitUsage;
    }
    std::string text = korvessa::HostManifest(
        which == "chromium" ? korvessa::Browser::kChromium : korvessa::Browser::kFirefox, korvessa::ExecutablePath());
    std::fwrite(text.data(), 1, text.size(), stdout);
    return kExitOk;
  }
  // Anything else is what a browser passes (the caller extension's origin,
  // the manifest's path, a parent window), which the frames make no use of.

  int frames = korvessa::PrepareFrameStreams();
  if (frames < 0) {
    std::fprintf(stderr, "korvessa-nm: cannot set up standard output\n");
    return kExitUsage;
  }
  korvessa::EngineLibrary library;
  std::string loadError;
  if (!library.Load(&loadError)) {
    std::fprintf(stderr, "korvessa-nm: %s\n", loadError.c_str());
    return kExitUsage;
  }
  korvessa::NativeHost host(library);
  kv::native::FdInput in(0);
  kv::native::FdOutput out(frames);
  host.Serve(in, out);
  return kExitOk;
}
