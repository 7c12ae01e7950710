// Parcelo's start: the application object, its title, the one window, and the event loop until
// that window closes. An archive given on the command line (a path, or a file:// URL as a file
// manager's "Open with" passes it) is taken up as if chosen through Browse.
#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>

#include "app/Unit1.h"
#include "app/WizardServices.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Parcelo");
  QGuiApplication::setDesktopFileName("org.parcelo.Parcelo");
  QIcon icon;
  icon.addFile(":/pictures/icons/parcelo-48.png");
  icon.addFile(":/pictures/icons/parcelo-256.png");
  QApplication::setWindowIcon(icon);
  wizard::InstallDesktopHooks();

  TForm1 form;
  form.show();
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) {
    QString archive = arguments.at(1);
    // A relative name is the caller's: the window's own paths are always full ones.
    if (!archive.startsWith("file:")) archive = QFileInfo(archive).absoluteFilePath();
    QTimer::singleShot(0, &form, [&form, archive] { form.ChooseArchive(archive.toStdString()); });
  }
  return application.exec();
}
