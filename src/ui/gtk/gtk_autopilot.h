// Test hook of the GTK renderer: when $KORVESSA_GTK_AUTOPILOT names a file
// of answers (the format of the scripted dialogs), the renderer drives its
// real windows with them (typing into entries, selecting rows, clicking
// buttons), answers choosers and message boxes, and saves a PNG of every
// window it shows into $KORVESSA_GTK_SHOTS together with widgets.jsonl,
// the texts the widgets carried.
#pragma once

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "ui/gtk/gtk_renderer.h"
#include "kvcommon/json.h"

namespace kv::gtk {

class Autopilot {
 public:
  // Null unless the hook is switched on.
  static Autopilot* FromEnvironment(GtkRenderer* renderer);

  // A dialog window is on screen: steps through its answers.
  void DialogShown(GtkRenderer::Session& session);
  // A message box runs: saves it and presses its first button.
  void MessageShown(GtkWidget* box, int response);
  // A file or folder browser asked during a dialog: the current answer's
  // "browse" (false when it has none).
  bool Browse(std::string* path);
  // The owner-less open-file chooser runs: saves it, then closes it; the
  // result is the next "open-file" answer.
  bool OpenFileShown(GtkWidget* chooser, std::string* path);

 private:
  Autopilot(GtkRenderer* renderer, std::vector<kv::json::Value> answers, std::string shots);
  struct Step;
  static gboolean RunStep(gpointer data);
  static gboolean Press(gpointer data);
  static gboolean Respond(gpointer data);
  void Schedule(GtkRenderer::Session& session, int delayMs);
  void Snapshot(GtkWidget* window, const std::string& label);
  void LogWidgets(GtkRenderer::Session& session);
  const kv::json::Value* Next(const std::string& dialog);

  GtkRenderer* renderer_;
  std::vector<kv::json::Value> answers_;
  size_t next_ = 0;
  std::string shots_;
  int shotNumber_ = 0;
  const kv::json::Value* answer_ = nullptr;
};

}  // namespace kv::gtk
