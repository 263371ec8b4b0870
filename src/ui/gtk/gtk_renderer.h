// The GTK 3 renderer: draws a dialog model as a modal GTK window, and the
// common dialogs (file and folder choosers, message boxes) as GTK dialogs.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <string>
#include <vector>

#include "kvwin/desktop.h"
#include "ui/desktop_module.h"
#include "ui/dialog_model.h"

namespace kv::gtk {

class Autopilot;

class GtkRenderer : public CDialogRenderer, public kv::platform::Desktop {
 public:
  explicit GtkRenderer(const KvDesktopHost* host);

  INT_PTR RunModal(CKvDialog& dialog) override;
  void BeginCommonDialogs() override;
  void EndCommonDialogs() override;

  bool OpenFile(const kv::platform::OpenFileRequest& request, std::string* path) override;
  bool BrowseFolder(HWND owner, const std::string& title, std::string* path) override;
  int ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
  bool OpenDocument(HWND owner, const std::string& path, bool* opened) override;

  // --- used by the window's signal handlers and the test autopilot ---
  struct Session {
    CKvDialog* model = nullptr;
    GtkWidget* window = nullptr;
    GMainLoop* loop = nullptr;
    std::map<int, GtkWidget*> widgets;  // control id -> entry, text view, button, tree view
    std::vector<std::pair<const DialogControl*, GtkWidget*>> labels;
    bool syncing = false;
    unsigned serial = 0;  // tells a later dialog from one that has closed
  };
  Session* current() { return current_; }
  std::string Utf8(const std::string& ansi) const { return host_->ansiToUtf8(ansi); }
  std::string Ansi(const std::string& utf8) const { return host_->utf8ToAnsi(utf8); }
  // Brings the widgets in line with the model, or ends the loop once the
  // model has closed.
  void AfterEvent();

 private:
  void Build(Session& s);
  GtkWindow* Parent(HWND owner) const;

  const KvDesktopHost* host_;
  Session* current_ = nullptr;
  std::vector<kv::platform::Desktop*> previous_;
  Autopilot* autopilot_ = nullptr;
  unsigned serial_ = 0;
};

// Pixels per dialog unit: dialog units scale with the font, and the CJK
// font the dialogs use is about twice the width of the base unit.
inline constexpr double kPixelsPerDluX = 2.0;
inline constexpr double kPixelsPerDluY = 2.0;

}  // namespace kv::gtk
