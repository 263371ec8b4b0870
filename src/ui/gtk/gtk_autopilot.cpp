// The GTK renderer's test hook: drives real windows with scripted answers
// and saves what they look like.
#include "ui/gtk/gtk_autopilot.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kvcommon/utf.h"

namespace kv::gtk {

using kv::json::Quote;
using kv::json::Value;

struct Autopilot::Step {
  Autopilot* pilot;
  GtkRenderer::Session* session;
  unsigned serial;
  GtkWidget* box;  // message boxes
  int response;
};

namespace {

// Time for the window to be laid out and drawn before it is used.
constexpr int kSettleMs = 120;

bool Live(const GtkRenderer::Session* session, unsigned serial, GtkRenderer* renderer) {
  return renderer->current() == session && session->serial == serial && !session->model->Ended();
}

void Flush() {
  while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

Autopilot* Autopilot::FromEnvironment(GtkRenderer* renderer) {
  const char* script = std::getenv("KORVESSA_GTK_AUTOPILOT");
  if (!script || !*script) return nullptr;
  std::ifstream in(script, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<Value> values, answers;
  std::string error;
  if (!kv::json::ParseSequence(text.str(), &values, &error)) {
    std::fprintf(stderr, "autopilot: %s\n", error.c_str());
    return nullptr;
  }
  for (Value& v : values) {
    if (v.Is(kv::json::Value::Kind::kArray))
      for (Value& item : v.items) answers.push_back(std::move(item));
    else
      answers.push_back(std::move(v));
  }
  const char* shots = std::getenv("KORVESSA_GTK_SHOTS");
  return new Autopilot(renderer, std::move(answers), shots ? shots : "");
}

Autopilot::Autopilot(GtkRenderer* renderer, std::vector<Value> answers, std::string shots)
    : renderer_(renderer), answers_(std::move(answers)), shots_(std::move(shots)) {}

const Value* Autopilot::Next(const std::string& dialog) {
  if (next_ >= answers_.size()) return nullptr;
  const Value* id = answers_[next_].Find("dialog");
  int n;
  bool matches = id && (id->Is(kv::json::Value::Kind::kString) ? id->Utf8() == dialog : (id->AsInt(&n) && std::to_string(n) == dialog));
  return matches ? &answers_[next_++] : nullptr;
}

void Autopilot::Snapshot(GtkWidget* window, const std::string& label) {
  if (shots_.empty()) return;
  Flush();
  int width = gtk_widget_get_allocated_width(window);
  int height = gtk_widget_get_allocated_height(window);
  if (width <= 1 || height <= 1) return;
  char name[64];
  std::snprintf(name, sizeof name, "%02d-", ++shotNumber_);
  std::string path = shots_ + "/" + name + label + ".png";
  // What the display shows, so that every child window (list headers,
  // scroll bars) is in the picture; drawn offscreen when the window is not
  // mapped.
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  GdkPixbuf* pixels = gdkWindow && gdk_window_is_viewable(gdkWindow)
                          ? gdk_pixbuf_get_from_window(gdkWindow, 0, 0, width, height)
                          : nullptr;
  if (pixels) {
    gdk_pixbuf_save(pixels, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixels);
    return;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  gtk_widget_draw(window, cr);
  cairo_destroy(cr);
  cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
}

// What the widgets show, read back from GTK, for the tests to compare with
// the dialog's texts.
void Autopilot::LogWidgets(GtkRenderer::Session& session) {
  if (shots_.empty()) return;
  std::string line = "{\"dialog\":" + std::to_string(session.model->ResourceId()) +
                     ",\"title\":" + Quote(gtk_window_get_title(GTK_WINDOW(session.window))) + ",\"texts\":[";
  bool first = true;
  auto add = [&](const std::string& text) {
    line += (first ? "" : ",") + Quote(text);
    first = false;
  };
  for (auto& label : session.labels) {
    if (GTK_IS_LABEL(label.second))
      add(gtk_label_get_text(GTK_LABEL(label.second)));
    else if (GTK_IS_FRAME(label.second))
      add(gtk_frame_get_label(GTK_FRAME(label.second)) ? gtk_frame_get_label(GTK_FRAME(label.second)) : "");
  }
  std::string columns;
  for (auto& entry : session.widgets) {
    GtkWidget* w = entry.second;
    if (GTK_IS_BUTTON(w)) {
      add(gtk_button_get_label(GTK_BUTTON(w)));
    } else if (GTK_IS_ENTRY(w)) {
      std::string text = gtk_entry_get_text(GTK_ENTRY(w));
      add(gtk_entry_get_visibility(GTK_ENTRY(w)) ? text : std::string(g_utf8_strlen(text.c_str(), -1), '*'));
    } else if (GTK_IS_SCROLLED_WINDOW(w)) {
      GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
      if (GTK_IS_TEXT_VIEW(child)) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(child));
        GtkTextIter a, b;
        gtk_text_buffer_get_bounds(buffer, &a, &b);
        gchar* text = gtk_text_buffer_get_text(buffer, &a, &b, FALSE);
        add(text ? text : "");
        g_free(text);
      } else if (GTK_IS_TREE_VIEW(child)) {
        for (guint i = 0; i < gtk_tree_view_get_n_columns(GTK_TREE_VIEW(child)); ++i) {
          GtkTreeViewColumn* column = gtk_tree_view_get_column(GTK_TREE_VIEW(child), static_cast<gint>(i));
          columns += (columns.empty() ? "" : ",") + std::string("{\"title\":") +
                     Quote(gtk_tree_view_column_get_title(column)) +
                     ",\"width\":" + std::to_string(gtk_tree_view_column_get_fixed_width(column)) + "}";
        }
      }
    }
  }
  // Which control typing goes to (-1: none of the model's).
  int focus = -1;
  GtkWidget* focused = gtk_window_get_focus(GTK_WINDOW(session.window));
  for (auto& entry : session.widgets)
    if (focused && (entry.second == focused || gtk_widget_is_ancestor(focused, entry.second))) focus = entry.first;
  line += "],\"columns\":[" + columns + "],\"focus\":" + std::to_string(focus) + "}";
  std::FILE* f = std::fopen((shots_ + "/widgets.jsonl").c_str(), "ab");
  if (!f) return;
  std::fputs(line.c_str(), f);
  std::fputc('\n', f);
  std::fclose(f);
}

void Autopilot::Schedule(GtkRenderer::Session& session, int delayMs) {
  g_timeout_add(static_cast<guint>(delayMs), &Autopilot::RunStep,
                new Step{this, &session, session.serial, nullptr, 0});
}

void Autopilot::DialogShown(GtkRenderer::Session& session) {
  Flush();
  LogWidgets(session);
  Schedule(session, kSettleMs);
}

gboolean Autopilot::RunStep(gpointer data) {
  Step* step = static_cast<Step*>(data);
  Autopilot* self = step->pilot;
  GtkRenderer::Session* s = step->session;
  if (!Live(s, step->serial, self->renderer_)) {
    delete step;
    return G_SOURCE_REMOVE;
  }
  std::string id = std::to_string(s->model->ResourceId());
  const Value* answer = self->Next(id);
  if (!answer) {
    // Nothing (more) for this dialog: it is closed as a person would.
    self->Snapshot(s->window, id + "-closing");
    delete step;
    gtk_window_close(GTK_WINDOW(s->window));
    return G_SOURCE_REMOVE;
  }
  self->answer_ = answer;
  if (const Value* set = answer->Find("set")) {
    for (const auto& member : set->members) {
      int control = std::atoi(kv::Utf16ToUtf8(member.first).c_str());
      auto found = s->widgets.find(control);
      if (found == s->widgets.end() || !member.second.Is(kv::json::Value::Kind::kString)) continue;
      GtkWidget* w = found->second;
      if (GTK_IS_ENTRY(w) && gtk_widget_is_sensitive(w) && gtk_editable_get_editable(GTK_EDITABLE(w))) {
        gtk_entry_set_text(GTK_ENTRY(w), member.second.Utf8().c_str());
      } else if (GTK_IS_SCROLLED_WINDOW(w) && GTK_IS_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(w)))) {
        GtkTextView* view = GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(w)));
        if (gtk_text_view_get_editable(view))
          gtk_text_buffer_set_text(gtk_text_view_get_buffer(view), member.second.Utf8().c_str(), -1);
      }
    }
  }
  if (const Value* select = answer->Find("select")) {
    int row;
    auto found = s->widgets.find(301);
    if (select->AsInt(&row) && found != s->widgets.end() && GTK_IS_SCROLLED_WINDOW(found->second)) {
      GtkWidget* child = gtk_bin_get_child(GTK_BIN(found->second));
      if (GTK_IS_TREE_VIEW(child)) {
        GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(child));
        if (row < 0) {
          gtk_tree_selection_unselect_all(selection);
        } else {
          GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
          gtk_tree_selection_select_path(selection, path);
          gtk_tree_path_free(path);
        }
      }
    }
  }
  g_timeout_add(kSettleMs / 2, &Autopilot::Press, step);
  return G_SOURCE_REMOVE;
}

gboolean Autopilot::Press(gpointer data) {
  Step* step = static_cast<Step*>(data);
  Autopilot* self = step->pilot;
  GtkRenderer::Session* s = step->session;
  if (!Live(s, step->serial, self->renderer_)) {
    self->answer_ = nullptr;
    delete step;
    return G_SOURCE_REMOVE;
  }
  std::string id = std::to_string(s->model->ResourceId());
  const Value* press = self->answer_ ? self->answer_->Find("press") : nullptr;
  int button = 0;
  self->Snapshot(s->window, id + (press && press->AsInt(&button) ? "-press-" + std::to_string(button) : "-typed"));
  auto found = s->widgets.find(button);
  // A click on an insensitive button does nothing, as for a person.
  if (button && found != s->widgets.end() && GTK_IS_BUTTON(found->second) && gtk_widget_is_sensitive(found->second))
    gtk_button_clicked(GTK_BUTTON(found->second));
  self->answer_ = nullptr;
  if (Live(s, step->serial, self->renderer_)) self->Schedule(*s, kSettleMs);
  delete step;
  return G_SOURCE_REMOVE;
}

bool Autopilot::Browse(std::string* path) {
  const Value* browse = answer_ ? answer_->Find("browse") : nullptr;
  if (!browse || !browse->Is(kv::json::Value::Kind::kString) || browse->Utf8().empty()) return false;
  *path = browse->Utf8();
  return true;
}

gboolean Autopilot::Respond(gpointer data) {
  Step* step = static_cast<Step*>(data);
  step->pilot->Snapshot(step->box, step->response == GTK_RESPONSE_CANCEL ? "open-file" : "message");
  gtk_dialog_response(GTK_DIALOG(step->box), step->response);
  delete step;
  return G_SOURCE_REMOVE;
}

void Autopilot::MessageShown(GtkWidget* box, int response) {
  g_timeout_add(kSettleMs, &Autopilot::Respond, new Step{this, nullptr, 0, box, response});
}

bool Autopilot::OpenFileShown(GtkWidget* chooser, std::string* path) {
  // The chooser is shown and saved, then dismissed; the answer decides.
  g_timeout_add(kSettleMs * 3, &Autopilot::Respond, new Step{this, nullptr, 0, chooser, GTK_RESPONSE_CANCEL});
  gtk_dialog_run(GTK_DIALOG(chooser));
  const Value* answer = Next("open-file");
  if (!answer) return false;
  const Value* browse = answer->Find("browse");
  const Value* press = answer->Find("press");
  int button = IDOK;
  if (press && !press->AsInt(&button)) button = IDCANCEL;
  if (button != IDOK || !browse || !browse->Is(kv::json::Value::Kind::kString) || browse->Utf8().empty()) return false;
  *path = browse->Utf8();
  return true;
}

}  // namespace kv::gtk
