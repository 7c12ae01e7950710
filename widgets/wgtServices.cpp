// The desktop's own services for the widgets: QMessageBox, the beep, the trash, the default
// application and the properties window.
#include "widgets/wgtServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QUrl>

namespace {

class TDesktopServices final : public TGuiServices {
 public:
  void ShowMessage(QWidget* parent, const std::string& text, TMsgDlgType type) override {
    const QString body = QString::fromStdString(text);
    const QString title = QApplication::applicationDisplayName();
    switch (type) {
      case TMsgDlgType::mtError:
        QMessageBox::critical(parent, title, body);
        break;
      case TMsgDlgType::mtWarning:
        QMessageBox::warning(parent, title, body);
        break;
      default:
        QMessageBox::information(parent, title, body);
        break;
    }
  }
  bool AskYesNo(QWidget* parent, const std::string& text) override {
    return QMessageBox::question(parent, QApplication::applicationDisplayName(),
                                 QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  void Beep() override { QApplication::beep(); }
  bool MoveToTrash(const std::string& hostPath) override {
    return QFile::moveToTrash(QString::fromStdString(hostPath));
  }
  bool OpenFile(const std::string& hostPath) override {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(hostPath)));
  }
  void ShowProperties(QWidget*, const std::string&) override {}
};

}  // namespace

TGuiServices& DesktopServices() {
  static TDesktopServices services;
  return services;
}
