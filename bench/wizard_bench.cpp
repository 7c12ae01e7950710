// The wizard's extraction path without a person: the real TForm1 (offscreen), the archive typed
// into its first page, Continue, the destination typed into the second page, Unzip. Its gauges,
// progress handler and event pumping all run as they do on a desktop. wizard_bench.sh times this
// against parcelo-cli on the same archive. Usage: wizard_bench [--start-only] ARCHIVE DESTINATION
// (host paths); --start-only does everything up to the Unzip click, to time the program's start.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>
#include <string>

#include "app/Unit1.h"
#include "app/WizardPaths.h"
#include "app/WizardServices.h"

namespace {

// Questions are answered Yes; any message box is a failure of the run.
class TBenchServices : public wizard::TWizardServices {
 public:
  int Messages = 0;
  void ShowMessage(QWidget*, const std::string& text, TMsgDlgType) override {
    std::fprintf(stderr, "wizard_bench: %s\n", text.c_str());
    ++Messages;
  }
  bool AskYesNo(QWidget*, const std::string&) override { return true; }
  void Beep() override {}
  bool MoveToTrash(const std::string&) override { return false; }
  bool OpenFile(const std::string&) override { return false; }
  void ShowProperties(QWidget*, const std::string&) override {}
  std::string ChooseArchive(QWidget*, const wizard::TOpenDialog&) override { return {}; }
};

}  // namespace

int main(int argc, char* argv[]) {
  const bool startOnly = argc == 4 && std::string(argv[1]) == "--start-only";
  if (argc != 3 && !startOnly) {
    std::fputs("usage: wizard_bench [--start-only] ARCHIVE DESTINATION\n", stderr);
    return 2;
  }
  const char* archive = argv[argc - 2];
  const char* destination = argv[argc - 1];
  QApplication application(argc, argv);
  wizard::InstallDesktopHooks();
  TBenchServices services;
  TForm1 form(&services);
  form.show();
  QApplication::processEvents();
  form.Edit1->setText(QString::fromLocal8Bit(archive));
  form.xpButton2->Click();
  form.Edit2->setText(QString::fromLocal8Bit(destination));
  form.Edit3->clear();
  if (startOnly) return form.CurrentPage() == 2 && services.Messages == 0 ? 0 : 1;
  form.xpButton5->Click();
  if (form.CurrentPage() != 3 || services.Messages != 0) return 1;
  std::printf("%s\n", form.Label2->text().toStdString().c_str());
  return 0;
}
