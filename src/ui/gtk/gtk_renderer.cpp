// Dialog models as modal GTK windows: one widget per control, placed by its
// dialog-unit rectangle, with the model told of every change and click and
// the widgets brought back in line with the model afterwards.
#include "ui/gtk/gtk_renderer.h"

#include "ui/gtk/gtk_autopilot.h"

namespace kv::gtk {
namespace {

using Session = GtkRenderer::Session;

struct Binding {
  GtkRenderer* renderer;
  Session* session;
  int id;
};

int Px(int dlu, double scale) { return static_cast<int>(dlu * scale + 0.5); }

Binding* Bind(GtkRenderer* renderer, Session* session, int id) {
  // Freed with the widget it is connected to.
  return new Binding{renderer, session, id};
}

void FreeBinding(gpointer data, GClosure*) { delete static_cast<Binding*>(data); }

std::string EntryText(GtkWidget* w) { return gtk_entry_get_text(GTK_ENTRY(w)); }

std::string BufferText(GtkTextBuffer* buffer) {
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

// Multi-line edits keep their text view inside a scrolled window.
GtkTextView* TextViewOf(GtkWidget* w) {
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(w));
  return GTK_TEXT_VIEW(child);
}

GtkTreeView* TreeViewOf(GtkWidget* w) { return GTK_TREE_VIEW(gtk_bin_get_child(GTK_BIN(w))); }

// Windows edit boxes take "\r\n" line breaks; GTK shows "\n".
std::string ForDisplay(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

void OnEntryChanged(GtkEditable* editable, gpointer data) {
  Binding* b = static_cast<Binding*>(data);
  if (b->session->syncing) return;
  b->session->model->TypeText(b->id, b->renderer->Ansi(EntryText(GTK_WIDGET(editable))));
  b->renderer->AfterEvent();
}

void OnBufferChanged(GtkTextBuffer* buffer, gpointer data) {
  Binding* b = static_cast<Binding*>(data);
  if (b->session->syncing) return;
  b->session->model->TypeText(b->id, b->renderer->Ansi(BufferText(buffer)));
  b->renderer->AfterEvent();
}

void OnClicked(GtkButton*, gpointer data) {
  Binding* b = static_cast<Binding*>(data);
  b->session->model->PressButton(b->id);
  b->renderer->AfterEvent();
}

void OnSelectionChanged(GtkTreeSelection* selection, gpointer data) {
  Binding* b = static_cast<Binding*>(data);
  if (b->session->syncing) return;
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  int row = -1;
  if (gtk_tree_selection_get_selected(selection, &model, &iter)) {
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    row = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
  }
  b->session->model->HighlightRow(row);
  b->renderer->AfterEvent();
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  Binding* b = static_cast<Binding*>(data);
  b->session->model->Close();
  b->renderer->AfterEvent();
  return TRUE;  // the renderer destroys the window itself
}

// Enter in a path box confirms the dialog, as in the other platform's
// multi-line edits, instead of breaking the path in two.
gboolean OnTextKey(GtkWidget* view, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter) return FALSE;
  GtkWidget* top = gtk_widget_get_toplevel(view);
  if (GTK_IS_WINDOW(top)) gtk_window_activate_default(GTK_WINDOW(top));
  return TRUE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  Binding* b = static_cast<Binding*>(data);
  b->session->model->Close();
  b->renderer->AfterEvent();
  return TRUE;
}

GtkWidget* MakeList(const CKvDialog& model) {
  size_t columns = model.Columns().size();
  std::vector<GType> types(columns ? columns : 1, G_TYPE_STRING);
  GtkListStore* store = gtk_list_store_newv(static_cast<gint>(types.size()), types.data());
  GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  return view;
}

}  // namespace

GtkRenderer::GtkRenderer(const KvDesktopHost* host) : host_(host) { autopilot_ = Autopilot::FromEnvironment(this); }

void GtkRenderer::BeginCommonDialogs() { previous_.push_back(host_->swapDesktop(this)); }

void GtkRenderer::EndCommonDialogs() {
  if (previous_.empty()) return;
  host_->swapDesktop(previous_.back());
  previous_.pop_back();
}

GtkWindow* GtkRenderer::Parent(HWND owner) const {
  if (current_ && owner && reinterpret_cast<GtkWidget*>(owner) == current_->window) return GTK_WINDOW(current_->window);
  return current_ ? GTK_WINDOW(current_->window) : nullptr;
}

void GtkRenderer::Build(Session& s) {
  CKvDialog& model = *s.model;
  GtkWidget* window = s.window;
  GtkWidget* header = gtk_header_bar_new();
  gtk_header_bar_set_title(GTK_HEADER_BAR(header), Utf8(model.Title()).c_str());
  gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
  gtk_window_set_titlebar(GTK_WINDOW(window), header);
  gtk_window_set_title(GTK_WINDOW(window), Utf8(model.Title()).c_str());
  gtk_window_set_modal(GTK_WINDOW(window), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, Px(model.WidthDlu(), kPixelsPerDluX), Px(model.HeightDlu(), kPixelsPerDluY));
  gtk_container_add(GTK_CONTAINER(window), fixed);

  for (const DialogControl& c : model.Controls()) {
    GtkWidget* widget = nullptr;
    GtkWidget* placed = nullptr;
    std::string text = Utf8(c.text);
    switch (c.kind) {
      case ControlKind::kStatic: {
        widget = gtk_label_new(text.c_str());
        gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(widget), 0.0f);
        gtk_label_set_line_wrap(GTK_LABEL(widget), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(widget), PANGO_WRAP_WORD_CHAR);
        s.labels.emplace_back(&c, widget);
        break;
      }
      case ControlKind::kGroupBox:
        widget = gtk_frame_new(text.c_str());
        s.labels.emplace_back(&c, widget);
        break;
      case ControlKind::kButton:
        widget = gtk_button_new_with_label(text.c_str());
        g_signal_connect_data(widget, "clicked", G_CALLBACK(OnClicked), Bind(this, &s, c.id), FreeBinding,
                              GConnectFlags(0));
        if (c.defaultButton) {
          gtk_widget_set_can_default(widget, TRUE);
          gtk_window_set_default(GTK_WINDOW(window), widget);
        }
        break;
      case ControlKind::kEdit:
        if (c.multiline) {
          GtkWidget* view = gtk_text_view_new();
          gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD_CHAR);
          gtk_text_view_set_editable(GTK_TEXT_VIEW(view), !c.readOnly);
          gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), !c.readOnly);
          GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(view));
          gtk_text_buffer_set_text(buffer, ForDisplay(text).c_str(), -1);
          g_signal_connect(view, "key-press-event", G_CALLBACK(OnTextKey), nullptr);
          g_signal_connect_data(buffer, "changed", G_CALLBACK(OnBufferChanged), Bind(this, &s, c.id), FreeBinding,
                                GConnectFlags(0));
          widget = gtk_scrolled_window_new(nullptr, nullptr);
          gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(widget), GTK_POLICY_NEVER,
                                         c.vscroll ? GTK_POLICY_ALWAYS : GTK_POLICY_AUTOMATIC);
          gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(widget), GTK_SHADOW_IN);
          // A scroll bar that shows only on hover would hide that there
          // is more text than the box holds.
          gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(widget), !c.vscroll);
          gtk_container_add(GTK_CONTAINER(widget), view);
        } else {
          widget = gtk_entry_new();
          gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
          gtk_editable_set_editable(GTK_EDITABLE(widget), !c.readOnly);
          if (c.password) {
            gtk_entry_set_visibility(GTK_ENTRY(widget), FALSE);
            gtk_entry_set_input_purpose(GTK_ENTRY(widget), GTK_INPUT_PURPOSE_PASSWORD);
          }
          if (c.limit > 0) gtk_entry_set_max_length(GTK_ENTRY(widget), c.limit);
          gtk_entry_set_activates_default(GTK_ENTRY(widget), TRUE);
          g_signal_connect_data(widget, "changed", G_CALLBACK(OnEntryChanged), Bind(this, &s, c.id), FreeBinding,
                                GConnectFlags(0));
        }
        break;
      case ControlKind::kListView: {
        GtkWidget* view = MakeList(model);
        GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(GTK_TREE_VIEW(view)));
        for (size_t i = 0; i < model.Columns().size(); ++i) {
          GtkCellRenderer* cell = gtk_cell_renderer_text_new();
          g_object_set(cell, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
          GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
              Utf8(model.Columns()[i].title).c_str(), cell, "text", static_cast<gint>(i), nullptr);
          gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
          gtk_tree_view_column_set_fixed_width(column, model.Columns()[i].width);
          gtk_tree_view_column_set_resizable(column, TRUE);
          gtk_tree_view_column_set_alignment(column, 0.0f);
          gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
        }
        for (const std::vector<std::string>& row : model.Rows()) {
          GtkTreeIter iter;
          gtk_list_store_append(store, &iter);
          for (size_t i = 0; i < row.size() && i < model.Columns().size(); ++i)
            gtk_list_store_set(store, &iter, static_cast<gint>(i), Utf8(row[i]).c_str(), -1);
        }
        GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(view));
        gtk_tree_selection_set_mode(selection, GTK_SELECTION_SINGLE);
        g_signal_connect_data(selection, "changed", G_CALLBACK(OnSelectionChanged), Bind(this, &s, c.id),
                              FreeBinding, GConnectFlags(0));
        widget = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(widget), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(widget), GTK_SHADOW_IN);
        gtk_container_add(GTK_CONTAINER(widget), view);
        break;
      }
    }
    placed = widget;
    gtk_widget_set_size_request(placed, Px(c.rect.cx, kPixelsPerDluX), Px(c.rect.cy, kPixelsPerDluY));
    gtk_fixed_put(GTK_FIXED(fixed), placed, Px(c.rect.x, kPixelsPerDluX), Px(c.rect.y, kPixelsPerDluY));
    if (c.id != kStaticId) s.widgets[c.id] = widget;
  }
  g_signal_connect_data(window, "delete-event", G_CALLBACK(OnDelete), Bind(this, &s, 0), FreeBinding,
                        GConnectFlags(0));
  g_signal_connect_data(window, "key-press-event", G_CALLBACK(OnKey), Bind(this, &s, 0), FreeBinding,
                        GConnectFlags(0));
}

void GtkRenderer::AfterEvent() {
  Session* s = current_;
  if (!s) return;
  if (s->model->Ended()) {
    if (g_main_loop_is_running(s->loop)) g_main_loop_quit(s->loop);
    return;
  }
  s->syncing = true;
  for (const DialogControl& c : s->model->Controls()) {
    auto found = s->widgets.find(c.id);
    if (c.id == kStaticId || found == s->widgets.end()) continue;
    GtkWidget* w = found->second;
    gtk_widget_set_sensitive(w, c.enabled);
    if (c.kind == ControlKind::kEdit) {
      std::string text = Utf8(c.text);
      if (c.multiline) {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(TextViewOf(w));
        if (BufferText(buffer) != ForDisplay(text)) gtk_text_buffer_set_text(buffer, ForDisplay(text).c_str(), -1);
      } else if (EntryText(w) != text) {
        gtk_entry_set_text(GTK_ENTRY(w), text.c_str());
      }
    } else if (c.kind == ControlKind::kListView) {
      GtkTreeSelection* selection = gtk_tree_view_get_selection(TreeViewOf(w));
      int row = s->model->HighlightedRow();
      if (row < 0) {
        gtk_tree_selection_unselect_all(selection);
      } else {
        GtkTreePath* path = gtk_tree_path_new_from_indices(row, -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_path_free(path);
      }
    }
  }
  for (auto& label : s->labels) {
    std::string text = Utf8(label.first->text);
    if (GTK_IS_LABEL(label.second)) {
      if (text != gtk_label_get_text(GTK_LABEL(label.second))) gtk_label_set_text(GTK_LABEL(label.second), text.c_str());
    }
  }
  s->syncing = false;
}

INT_PTR GtkRenderer::RunModal(CKvDialog& dialog) {
  if (current_) return -1;  // one modal dialog at a time
  Session session;
  session.model = &dialog;
  session.serial = ++serial_;
  session.loop = g_main_loop_new(nullptr, FALSE);
  BeginCommonDialogs();
  current_ = &session;
  // The window exists before the model starts (its handle owns the message
  // boxes the model shows); the widgets follow the started model.
  session.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  dialog.Start(reinterpret_cast<HWND>(session.window));
  Build(session);
  // Labels that depend on the start values (the range label) follow the
  // model now.
  AfterEvent();
  gtk_widget_show_all(session.window);
  if (GtkWidget* ok = session.widgets.count(IDOK) ? session.widgets[IDOK] : nullptr) gtk_widget_grab_default(ok);
  // Typing goes to the first box that takes it, as on Windows, where shown
  // values are no tab stops: GTK would otherwise focus a read-only entry
  // placed before it (the token's name above the PIN).
  for (const DialogControl& c : dialog.Controls()) {
    if (c.kind != ControlKind::kEdit || c.readOnly || c.multiline || !session.widgets.count(c.id)) continue;
    GtkWidget* entry = session.widgets[c.id];
    if (!gtk_widget_is_sensitive(entry)) continue;
    gtk_widget_grab_focus(entry);
    break;
  }
  if (autopilot_) autopilot_->DialogShown(session);
  if (!dialog.Ended()) g_main_loop_run(session.loop);
  gtk_widget_destroy(session.window);
  while (gtk_events_pending()) gtk_main_iteration();
  g_main_loop_unref(session.loop);
  current_ = nullptr;
  EndCommonDialogs();
  return dialog.Result();
}

}  // namespace kv::gtk
