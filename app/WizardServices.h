// What the wizard asks of the desktop, behind interfaces that tests replace: the message boxes
// and the Yes/No question (the widgets' TGuiServices, shared with the folder tree), the file-open
// dialog, and the host layer's hooks for opening a folder or a web page and for pumping pending
// events. The real implementations use QMessageBox, QFileDialog and QDesktopServices.
#pragma once

#include <QUrl>
#include <functional>
#include <string>

#include "widgets/wgtServices.h"

class QWidget;

namespace wizard {

// "Zip Files (*.zip)|*.zip", then "All archives (...)" with every extension the engine extracts,
// then "All files (*)|*".
std::string ArchiveDialogFilter();

// The settings of the file-open dialog, as the window stores them.
struct TOpenDialog {
  std::string Filter = ArchiveDialogFilter();  // description|mask pairs
  std::string FileName = "*.zip";
  std::string InitialDir = "C:\\";  // the window's path syntax
};

class TWizardServices : public TGuiServices {
 public:
  // Runs the file-open dialog; the chosen file as a host path, or empty when cancelled.
  virtual std::string ChooseArchive(QWidget* parent, const TOpenDialog& dialog) = 0;
};

// The desktop's own: QFileDialog for the archive, the widgets' desktop services for the rest.
TWizardServices& DesktopWizardServices();

// "Zip Files (*.zip)|*.zip" -> "Zip Files (*.zip)" as QFileDialog wants its filters.
std::string QtFileFilter(const std::string& filter);

// Installs the host layer's hooks for a program with a window: opening a folder (a path in the
// window's syntax) or a web address hands a URL to `openUrl` (a local folder as a file:// URL, so
// names with blanks survive), and pumping processes the application's pending events, at most
// once every few milliseconds so that a run of many small files is not slowed down by it.
void InstallDesktopHooks(std::function<bool(const QUrl&)> openUrl);
void InstallDesktopHooks();  // with QDesktopServices::openUrl

// Processes pending events unless that was done within the last few milliseconds.
void PumpEvents();

// The URL a folder or web page target of the host's launcher stands for: a web address as it is,
// a path in the window's syntax as the file:// URL of its host path; an invalid URL when the
// path names nothing on this host.
QUrl UrlOfTarget(const std::string& target);

}  // namespace wizard
