// The wizard's desktop services and host hooks (see WizardServices.h).
#include "app/WizardServices.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

#include "app/WizardNotify.h"

#include "platform/host.h"

namespace wizard {

namespace {

// Pending events are processed at most this often while the engine works: often enough that the
// window repaints smoothly and a click on its close box is seen at once.
constexpr qint64 kPumpIntervalMs = 15;
// How long an opener is watched for a failure: a desktop's opener hands the address over and ends
// within this; one still running by then has started a program that shows it.
constexpr int kOpenerWatchMs = 15000;

std::function<void(const std::string&)>& LaunchFailureHandler() {
  static std::function<void(const std::string&)> handler;
  return handler;
}

void LaunchFailed(const std::string& target) {
  if (const auto handler = LaunchFailureHandler()) handler(target);
}

// Starts `opener` on the URL without waiting; a failure to start, or an exit with a failure while
// it is watched, is passed on to the launch-failure handler.
bool StartOpener(const QString& opener, const QUrl& url, const std::string& target) {
  auto* process = new QProcess;
  process->setProgram(opener);
  process->setArguments({url.isLocalFile() ? url.toLocalFile() : url.toString()});
  process->setStandardOutputFile(QProcess::nullDevice());
  auto watched = std::make_shared<bool>(true);
  QObject::connect(process, &QProcess::finished, process,
                   [process, watched, target](int exitCode, QProcess::ExitStatus status) {
                     if (*watched && (status != QProcess::NormalExit || exitCode != 0))
                       LaunchFailed(target);
                     *watched = false;
                     process->deleteLater();
                   });
  process->start();
  if (!process->waitForStarted(5000)) {
    delete process;
    return false;
  }
  // A program that shows the page may keep running after the program has ended: the process
  // object is let go of then, so that it is never killed with it.
  QTimer::singleShot(kOpenerWatchMs, [watched] { *watched = false; });
  return true;
}

class TDesktopWizardServices : public TWizardServices {
 public:
  void ShowMessage(QWidget* parent, const std::string& text, TMsgDlgType type) override {
    DesktopServices().ShowMessage(parent, text, type);
  }
  bool AskYesNo(QWidget* parent, const std::string& text) override {
    return DesktopServices().AskYesNo(parent, text);
  }
  void Beep() override { DesktopServices().Beep(); }
  bool MoveToTrash(const std::string& hostPath) override {
    return DesktopServices().MoveToTrash(hostPath);
  }
  bool OpenFile(const std::string& hostPath) override {
    return DesktopServices().OpenFile(hostPath);
  }
  void ShowProperties(QWidget* parent, const std::string& hostPath) override {
    DesktopServices().ShowProperties(parent, hostPath);
  }
  void NotifyRunEnded(const std::string& summary, const std::string& body,
                      const std::string& folder) override {
    DesktopNotifier().Notify(summary, body, folder);
  }
  std::string ChooseArchive(QWidget* parent, const TOpenDialog& dialog) override {
    std::string directory;
    if (!host::ToHostPath(dialog.InitialDir, directory)) directory.clear();
    QFileDialog fileDialog(parent, QString(), QString::fromStdString(directory),
                           QString::fromStdString(QtFileFilter(dialog.Filter)));
    fileDialog.setFileMode(QFileDialog::ExistingFile);
    fileDialog.selectFile(QString::fromStdString(dialog.FileName));
    if (fileDialog.exec() != QDialog::Accepted || fileDialog.selectedFiles().isEmpty()) return {};
    return fileDialog.selectedFiles().front().toStdString();
  }
};

}  // namespace

TDesktopNotifier& DesktopNotifier() {
  static TDesktopNotifier* notifier = new TDesktopNotifier;  // lives as long as the bus
  return *notifier;
}

TWizardServices& DesktopWizardServices() {
  static TDesktopWizardServices services;
  return services;
}

std::string QtFileFilter(const std::string& filter) {
  // Pairs of "description|mask": the description already names the mask, as Qt wants it.
  std::string result;
  size_t start = 0;
  bool description = true;
  while (start <= filter.size()) {
    size_t end = filter.find('|', start);
    if (end == std::string::npos) end = filter.size();
    if (description) {
      if (!result.empty()) result += ";;";
      result += filter.substr(start, end - start);
    }
    description = !description;
    start = end + 1;
  }
  return result;
}

QUrl UrlOfTarget(const std::string& target) {
  const size_t scheme = target.find("://");
  if (scheme != std::string::npos && scheme > 0 && target.find_first_of("\\/") > scheme)
    return QUrl(QString::fromStdString(target));
  std::string hostPath;
  if (!host::ToHostPath(host::ExpandFileName(target), hostPath) || hostPath.empty()) return {};
  return QUrl::fromLocalFile(QString::fromStdString(hostPath));
}

void PumpEvents() {
  static QElapsedTimer sinceLast;
  if (sinceLast.isValid() && sinceLast.elapsed() < kPumpIntervalMs) return;
  QCoreApplication::processEvents();
  sinceLast.start();
}

void InstallDesktopHooks(std::function<bool(const QUrl&)> openUrl) {
  host::TShellHooks hooks;
  hooks.OpenInNewWindow = [openUrl = std::move(openUrl)](const std::string& target) {
    const QUrl url = UrlOfTarget(target);
    return url.isValid() && openUrl(url);
  };
  hooks.ProcessMessages = [] { PumpEvents(); };
  host::InstallShellHooks(std::move(hooks));
}

void InstallDesktopHooks(const QString& opener) {
  const QString program = QStandardPaths::findExecutable(opener);
  if (program.isEmpty()) {
    InstallDesktopHooks([](const QUrl& url) { return QDesktopServices::openUrl(url); });
    return;
  }
  host::TShellHooks hooks;
  hooks.OpenInNewWindow = [program](const std::string& target) {
    const QUrl url = UrlOfTarget(target);
    return url.isValid() && StartOpener(program, url, target);
  };
  hooks.ProcessMessages = [] { PumpEvents(); };
  host::InstallShellHooks(std::move(hooks));
}

void SetLaunchFailureHandler(std::function<void(const std::string& target)> handler) {
  LaunchFailureHandler() = std::move(handler);
}

}  // namespace wizard
