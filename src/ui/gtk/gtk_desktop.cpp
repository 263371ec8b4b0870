// The common dialogs drawn with GTK: file and folder choosers and message
// boxes. Documents are left to the system's default handler.
#include <cctype>

#include "ui/gtk/gtk_autopilot.h"
#include "ui/gtk/gtk_renderer.h"

namespace kv::gtk {
namespace {

// Windows matches file patterns without regard to case.
std::string CaseFoldPattern(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      out += '[';
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}

GtkWidget* Chooser(const std::string& title, GtkWindow* parent, GtkFileChooserAction action, const char* accept) {
  // The title sits in a header bar, so it shows with or without a window
  // manager.
  GtkWidget* chooser = GTK_WIDGET(g_object_new(GTK_TYPE_FILE_CHOOSER_DIALOG, "title", title.c_str(), "action", action,
                                               "use-header-bar", TRUE, nullptr));
  gtk_dialog_add_buttons(GTK_DIALOG(chooser), "_Cancel", GTK_RESPONSE_CANCEL, accept, GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  if (parent) gtk_window_set_transient_for(GTK_WINDOW(chooser), parent);
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_window_set_default_size(GTK_WINDOW(chooser), 760, 520);
  return chooser;
}

bool ChosenPath(GtkWidget* chooser, std::string* path) {
  gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
  if (!name) return false;
  *path = name;
  g_free(name);
  return !path->empty();
}

int ResponseToId(int response, UINT type) {
  switch (response) {
    case GTK_RESPONSE_OK: return IDOK;
    case GTK_RESPONSE_YES: return IDYES;
    case GTK_RESPONSE_NO: return IDNO;
    case GTK_RESPONSE_CANCEL: return IDCANCEL;
    case IDABORT + 100: return IDABORT;
    case IDRETRY + 100: return IDRETRY;
    case IDIGNORE + 100: return IDIGNORE;
    default:
      // Closing a box that has only "OK" answers OK, as on Windows.
      return (type & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
  }
}

}  // namespace

bool GtkRenderer::OpenFile(const kv::platform::OpenFileRequest& request, std::string* path) {
  if (autopilot_ && current_) return autopilot_->Browse(path);
  GtkWidget* chooser = Chooser(request.title, Parent(request.owner), GTK_FILE_CHOOSER_ACTION_OPEN, "_Open");
  for (const kv::platform::FileFilter& f : request.filters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, f.description.c_str());
    for (const std::string& p : f.patterns) gtk_file_filter_add_pattern(filter, CaseFoldPattern(p).c_str());
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
  }
  if (!request.initialFolder.empty())
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), request.initialFolder.c_str());
  bool chosen;
  if (autopilot_) {
    gtk_widget_show_all(chooser);
    chosen = autopilot_->OpenFileShown(chooser, path);
  } else {
    chosen = gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT && ChosenPath(chooser, path);
  }
  gtk_widget_destroy(chooser);
  while (gtk_events_pending()) gtk_main_iteration();
  return chosen;
}

bool GtkRenderer::BrowseFolder(HWND owner, const std::string& title, std::string* path) {
  if (autopilot_) return autopilot_->Browse(path);
  GtkWidget* chooser = Chooser(title, Parent(owner), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select");
  bool chosen = gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT && ChosenPath(chooser, path);
  gtk_widget_destroy(chooser);
  while (gtk_events_pending()) gtk_main_iteration();
  return chosen;
}

int GtkRenderer::ShowMessage(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  const char* icon = nullptr;
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: icon = "dialog-error"; break;
    case MB_ICONQUESTION: icon = "dialog-question"; break;
    case MB_ICONEXCLAMATION: icon = "dialog-warning"; break;
    case MB_ICONASTERISK: icon = "dialog-information"; break;
  }
  // A dialog of our own rather than a GtkMessageDialog: its caption sits in
  // a header bar (shown with or without a window manager) and the icon
  // beside the text, as the message boxes of the other platform show them.
  GtkWidget* box = GTK_WIDGET(g_object_new(GTK_TYPE_DIALOG, "use-header-bar", TRUE, nullptr));
  GtkWidget* header = gtk_dialog_get_header_bar(GTK_DIALOG(box));
  gtk_header_bar_set_title(GTK_HEADER_BAR(header), caption.c_str());
  gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
  gtk_window_set_modal(GTK_WINDOW(box), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  if (GtkWindow* parent = Parent(owner)) gtk_window_set_transient_for(GTK_WINDOW(box), parent);
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 16);
  gtk_container_set_border_width(GTK_CONTAINER(row), 18);
  if (icon) gtk_box_pack_start(GTK_BOX(row), gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG), FALSE, FALSE, 0);
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(box))), row);
  gtk_widget_show_all(row);
  int first = GTK_RESPONSE_OK;
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "OK", GTK_RESPONSE_OK, "Cancel", GTK_RESPONSE_CANCEL, nullptr);
      break;
    case MB_YESNO:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "Yes", GTK_RESPONSE_YES, "No", GTK_RESPONSE_NO, nullptr);
      first = GTK_RESPONSE_YES;
      break;
    case MB_YESNOCANCEL:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "Yes", GTK_RESPONSE_YES, "No", GTK_RESPONSE_NO, "Cancel",
                             GTK_RESPONSE_CANCEL, nullptr);
      first = GTK_RESPONSE_YES;
      break;
    case MB_RETRYCANCEL:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "Retry", IDRETRY + 100, "Cancel", GTK_RESPONSE_CANCEL, nullptr);
      first = IDRETRY + 100;
      break;
    case MB_ABORTRETRYIGNORE:
      gtk_dialog_add_buttons(GTK_DIALOG(box), "Abort", IDABORT + 100, "Retry", IDRETRY + 100, "Ignore",
                             IDIGNORE + 100, nullptr);
      first = IDABORT + 100;
      break;
    default:
      gtk_dialog_add_button(GTK_DIALOG(box), "OK", GTK_RESPONSE_OK);
      break;
  }
  gtk_dialog_set_default_response(GTK_DIALOG(box), first);
  if (autopilot_) autopilot_->MessageShown(box, first);
  int response = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  while (gtk_events_pending()) gtk_main_iteration();
  return ResponseToId(response, type);
}

bool GtkRenderer::OpenDocument(HWND, const std::string&, bool*) { return false; }

}  // namespace kv::gtk
