// The desktop's own services for the widgets: QMessageBox, the beep, the trash, the default
// application, and a small properties window (this host has no shell properties sheet).
#include "widgets/wgtServices.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>

#include "platform/host.h"

namespace fs = std::filesystem;

namespace {

// "rwxr-x---" from Qt's permission flags (the owner's, the group's, everyone else's).
QString PermissionText(QFile::Permissions permissions) {
  const QFile::Permission bits[] = {QFile::ReadOwner, QFile::WriteOwner, QFile::ExeOwner,
                                    QFile::ReadGroup, QFile::WriteGroup, QFile::ExeGroup,
                                    QFile::ReadOther, QFile::WriteOther, QFile::ExeOther};
  QString text;
  for (int i = 0; i < 9; ++i) text += (permissions & bits[i]) ? QString("rwx")[i % 3] : QChar('-');
  return text;
}

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
  void ShowProperties(QWidget* parent, const std::string& hostPath) override {
    NewPropertiesDialog(parent, hostPath)->show();
  }
};

}  // namespace

QDialog* NewPropertiesDialog(QWidget* parent, const std::string& hostPath) {
  const QFileInfo info(QString::fromStdString(hostPath));
  const QLocale locale;
  auto* dialog = new QDialog(parent);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setObjectName("Properties");
  dialog->setWindowTitle(info.fileName().isEmpty() ? QString::fromStdString(hostPath)
                                                   : info.fileName() + " Properties");
  auto* layout = new QVBoxLayout(dialog);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  const auto add = [&](const QString& name, const QString& label, const QString& value) {
    auto* field = new QLabel(value, dialog);
    field->setObjectName(name);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, field);
  };
  auto* icon = new QLabel(dialog);
  icon->setPixmap(QFileIconProvider().icon(info).pixmap(32, 32));
  form->addRow(icon, new QLabel(info.fileName().isEmpty() ? "/" : info.fileName(), dialog));
  add("Location", "Location:", QString::fromStdString(host::FromHostPath(hostPath)));
  add("Type", "Type:", info.isSymLink() ? "Link" : info.isDir() ? "Folder" : "File");

  // What lies below: every regular file's size, and counts; links are not followed.
  uint64_t bytes = 0, files = 0, folders = 0;
  std::error_code error;
  if (info.isDir()) {
    fs::recursive_directory_iterator it(hostPath, fs::directory_options::skip_permission_denied,
                                        error);
    for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
      std::error_code entryError;
      const auto status = it->symlink_status(entryError);
      if (fs::is_directory(status)) {
        ++folders;
      } else {
        ++files;
        if (fs::is_regular_file(status)) bytes += it->file_size(entryError);
      }
    }
  } else {
    bytes = static_cast<uint64_t>(info.size());
  }
  add("Size", "Size:",
      locale.formattedDataSize(static_cast<qint64>(bytes)) + " (" +
          QLocale(QLocale::English).toString(static_cast<qulonglong>(bytes)) + " bytes)");
  if (info.isDir()) {
    add("Contains", "Contains:", QString("%1 files, %2 folders").arg(files).arg(folders));
  }
  add("Modified", "Modified:", locale.toString(info.lastModified(), QLocale::LongFormat));
  add("Accessed", "Accessed:", locale.toString(info.lastRead(), QLocale::LongFormat));
  add("Owner", "Owner:", info.owner() + " / " + info.group());
  add("Permissions", "Permissions:", PermissionText(info.permissions()));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  layout->addWidget(buttons);
  return dialog;
}

TGuiServices& DesktopServices() {
  static TDesktopServices services;
  return services;
}
