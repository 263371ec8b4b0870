// Entry of the GTK renderer module: opens the display once and hands the
// engine the renderer.
#include <gtk/gtk.h>

#include "ui/desktop_module.h"
#include "ui/gtk/gtk_renderer.h"

extern "C" __attribute__((visibility("default"))) CDialogRenderer* KorvessaDesktopRenderer(const KvDesktopHost* host) {
  static kv::gtk::GtkRenderer* renderer = nullptr;
  if (renderer) return renderer;
  if (!host || host->abi != KV_DESKTOP_MODULE_ABI) return nullptr;
  if (!gtk_init_check(nullptr, nullptr)) return nullptr;
  renderer = new kv::gtk::GtkRenderer(host);
  return renderer;
}
