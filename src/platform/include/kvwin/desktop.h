// The desktop behind the stand-in's common dialogs: whoever draws the
// engine's dialogs (scripted answers, the GTK module) installs one for the
// time a dialog runs, and GetOpenFileNameA, SHBrowseForFolderA, MessageBoxA
// and ShellExecuteA hand their work to it. Texts and paths cross this
// interface in UTF-8; the calls convert from and to the ANSI code page.
//
// Declared here with the platform's other calls because renderers above the
// platform implement it; Windows has no counterpart (its dialogs draw
// themselves), so only the stand-in's renderers (and the root-store prompt)
// include it.
//
// The interface is all virtual so that a separately built module can
// implement it without linking to the library that calls it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kv::platform {

struct FileFilter {
  std::string description;            // "PFX Files (*.pfx;*.p12)"
  std::vector<std::string> patterns;  // "*.pfx", "*.p12"
};

struct OpenFileRequest {
  HWND owner = nullptr;
  std::string title;
  std::vector<FileFilter> filters;
  std::string initialFolder;  // empty: the desktop's choice
  DWORD flags = 0;
};

class Desktop {
 public:
  virtual ~Desktop() = default;
  // True with the chosen full path; false when the user cancelled or nothing
  // could be shown.
  virtual bool OpenFile(const OpenFileRequest& request, std::string* path) = 0;
  virtual bool BrowseFolder(HWND owner, const std::string& title, std::string* path) = 0;
  // The button pressed (IDOK, IDCANCEL, ...) or 0 when no box was shown.
  virtual int ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
  // Opens a document with the desktop's viewer. Returns false to leave it to
  // the system's default handler.
  virtual bool OpenDocument(HWND owner, const std::string& path, bool* opened) = 0;
};

// The desktop the common dialogs use now, or null.
Desktop* ActiveDesktop();
// Installs `next` and returns the desktop it replaces.
Desktop* SwapDesktop(Desktop* next);

// Installs a desktop for the lifetime of the object and restores the
// previous one afterwards.
class ScopedDesktop {
 public:
  explicit ScopedDesktop(Desktop* desktop);
  ~ScopedDesktop();
  ScopedDesktop(const ScopedDesktop&) = delete;
  ScopedDesktop& operator=(const ScopedDesktop&) = delete;

 private:
  Desktop* previous_;
};

// Windows asks the user before a certificate enters the current user's
// "ROOT" store, and a refusal makes the addition fail with
// HRESULT_FROM_WIN32(ERROR_CANCELLED). The stand-in asks through the prompt
// the dialogs install here, given the certificate's DER; true lets it in.
// With no prompt installed nobody can be asked, and the addition fails as a
// refused one does (as on a Windows without a desktop).
using RootStorePrompt = bool (*)(const BYTE* encoded, DWORD size);
// Installs `next` for the whole process and returns the prompt it replaces.
RootStorePrompt SwapRootStorePrompt(RootStorePrompt next);
RootStorePrompt ActiveRootStorePrompt();

// A card's provider asks for the PIN itself before the first private-key
// operation of a token session. The stand-in's smart-card provider asks
// through the prompt the dialogs install here, given the token's label
// (UTF-8); true with the PIN typed (UTF-8), which the provider wipes once the
// token has it. With no prompt installed nobody can be asked, and the
// operation fails as a cancelled one does.
using TokenPinPrompt = bool (*)(const std::string& tokenLabel, std::string* pin);
// Installs `next` for the whole process and returns the prompt it replaces.
TokenPinPrompt SwapTokenPinPrompt(TokenPinPrompt next);
TokenPinPrompt ActiveTokenPinPrompt();

// ANSI code page <-> UTF-8, for texts that cross to the desktop. A text that
// cannot be converted gives false.
bool DesktopTextFromAnsi(const std::string& ansi, std::string* utf8);
bool AnsiFromDesktopText(const std::string& utf8, std::string* ansi);
// As above, replacing what does not convert (for texts that are only shown).
std::string DesktopTextLenient(const std::string& ansi);
// An ANSI path as the file system takes it: UTF-8 with '/' separators.
bool DesktopPathFromAnsi(const std::string& ansi, std::string* native);

}  // namespace kv::platform
