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

// The settings of the file-open dialog, as the window stores them.
struct TOpenDialog {
  std::string Filter = "Zip Files (*.zip)|*.zip";  // description|mask pairs
  std::string FileName = "*.zip";
  std::string InitialDir = "C:\\";  // the window's path syntax
};

class TWizardServices : public TGuiServices {
 public:
  // Runs the file-open dialog; the chosen file as a host path, or empty when cancelled.
  virtual std::string ChooseArchive(QWidget* parent, const TOpenDialog& dialog) = 0;
  // Tells the desktop that a run has ended (a notification with an "Open folder" action that
  // opens `folder`, a path in the window's syntax). Nothing when no notification service runs.
  virtual void NotifyRunEnded(const std::string& summary, const std::string& body,
                              const std::string& folder) = 0;
};

// The desktop's own: QFileDialog for the archive, the widgets' desktop services for the rest.
TWizardServices& DesktopWizardServices();

class TDesktopNotifier;
// The notifier the desktop's services send through (its "Open folder" actions work while the
// program runs).
TDesktopNotifier& DesktopNotifier();

// "Zip Files (*.zip)|*.zip" -> "Zip Files (*.zip)" as QFileDialog wants its filters.
std::string QtFileFilter(const std::string& filter);

// Installs the host layer's hooks for a program with a window: opening a folder (a path in the
// window's syntax) or a web address hands a URL to `openUrl` (a local folder as a file:// URL, so
// names with blanks survive), and pumping processes the application's pending events, at most
// once every few milliseconds so that a run of many small files is not slowed down by it.
void InstallDesktopHooks(std::function<bool(const QUrl&)> openUrl);
// With the desktop's opener program (`opener`, "xdg-open" by default; QDesktopServices::openUrl
// when it is not installed), watched for a while: an opener that ends with a failure (no program
// for folders, no web browser) is said through the launch-failure handler.
void InstallDesktopHooks(const QString& opener = QStringLiteral("xdg-open"));

// Who is told when an opener that was started fails later: `target` is what ShellOpen was given.
// One handler at a time; an empty function removes it.
void SetLaunchFailureHandler(std::function<void(const std::string& target)> handler);

// Processes pending events unless that was done within the last few milliseconds.
void PumpEvents();

// The URL a folder or web page target of the host's launcher stands for: a web address as it is,
// a path in the window's syntax as the file:// URL of its host path; an invalid URL when the
// path names nothing on this host.
QUrl UrlOfTarget(const std::string& target);

}  // namespace wizard
