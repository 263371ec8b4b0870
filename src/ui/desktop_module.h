// The interface between the engine and the desktop renderer module
// (libkorvessa-gtk.so), which is loaded only when a display is present so
// that hosts without a desktop never load the toolkit.
//
// The module gets the models through their virtual and inline members
// only, and converts texts with the host's functions below.
#pragma once

#include <string>

#include "ui/dialog_renderer.h"

namespace kv::platform {
class Desktop;
}

#define KV_DESKTOP_MODULE_ABI 1
#define KV_DESKTOP_MODULE_ENTRY "KorvessaDesktopRenderer"

struct KvDesktopHost {
  int abi;
  // ANSI code page <-> UTF-8; a text that does not convert gives "".
  std::string (*ansiToUtf8)(const std::string& ansi);
  std::string (*utf8ToAnsi)(const std::string& utf8);
  // Installs the desktop behind the common dialogs; returns the previous.
  kv::platform::Desktop* (*swapDesktop)(kv::platform::Desktop* next);
};

// The module's entry: its renderer (owned by the module), or null when the
// display cannot be opened.
typedef CDialogRenderer* (*KvDesktopRendererEntry)(const KvDesktopHost* host);

namespace kv::ui {
// The module's renderer, loaded on first use; null when it is missing or
// cannot open the display.
CDialogRenderer* DesktopModuleRenderer();
}  // namespace kv::ui
