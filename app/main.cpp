// Parcelo's start: the application object, its title, the one window, and the event loop until
// that window closes. An archive given on the command line (a path, or a file:// URL as a file
// manager's "Open with" passes it) is taken up as if chosen through Browse; what is wrong with it
// is said as Browse says it. `parcelo --extract-here ARCHIVE...` extracts each archive beside
// itself without the window (the file managers' "Extract Here").
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QThread>
#include <QTimer>
#include <string>
#include <vector>

#include "app/ExtractHere.h"
#include "app/Unit1.h"
#include "app/WizardNotify.h"
#include "app/WizardPaths.h"
#include "app/WizardServices.h"

namespace {

// A relative name is the caller's: the window's own paths are always full ones.
QString FullPath(const QString& argument) {
  return wizard::IsFileUrl(argument.toStdString()) ? argument
                                                   : QFileInfo(argument).absoluteFilePath();
}

// The notifications' "Open folder" stays usable for a while after the last run.
constexpr qint64 kActionsKeptMs = 60000;

int ExtractHereAndWait(const QStringList& arguments) {
  std::vector<std::string> archives;
  for (const QString& argument : arguments) archives.push_back(FullPath(argument).toStdString());
  const int status = wizard::ExtractHere(archives, wizard::DesktopWizardServices());
  QElapsedTimer waited;
  waited.start();
  while (wizard::DesktopNotifier().Sent() > 0 && waited.elapsed() < kActionsKeptMs) {
    QApplication::processEvents(QEventLoop::AllEvents, 100);
    if (!wizard::DesktopNotifier().Pending() && waited.elapsed() > 2000) break;
    QThread::msleep(50);
  }
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Parcelo");
  QGuiApplication::setDesktopFileName("org.parcelo.Parcelo");
  QIcon icon;
  icon.addFile(":/pictures/icons/parcelo-48.png");
  icon.addFile(":/pictures/icons/parcelo-256.png");
  QApplication::setWindowIcon(icon);
  wizard::InstallDesktopHooks();

  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (!arguments.isEmpty() && arguments.front() == "--extract-here") {
    arguments.removeFirst();
    return ExtractHereAndWait(arguments);
  }

  TForm1 form;
  form.show();
  if (!arguments.isEmpty()) {
    const QString archive = FullPath(arguments.front());
    QTimer::singleShot(0, &form, [&form, archive] { form.ChooseArchive(archive.toStdString()); });
  }
  return application.exec();
}
