// What the widgets ask of the desktop, behind one small interface: message boxes, the beep, the
// trash, opening a file with its default application and the folder properties window. The real
// implementation uses QMessageBox, QApplication::beep, QFile::moveToTrash and QDesktopServices;
// tests install their own so that nothing blocks on a modal dialog and nothing leaves the test's
// folders. This header says nothing about how the widgets look.
#pragma once

#include <functional>
#include <string>

class QDialog;
class QObject;
class QWidget;

// Sender-first events, as the rest of the system writes them. An empty function is an unassigned
// event.
using TWidgetEvent = std::function<void(QObject* Sender)>;
// Key is the Qt key code (Qt::Key_Return, Qt::Key_Space, ...); setting it to 0 swallows the key.
using TWidgetKeyEvent = std::function<void(QObject* Sender, int& Key, int Shift)>;

enum class TMsgDlgType { mtInformation, mtWarning, mtError, mtConfirmation };

class TGuiServices {
 public:
  virtual ~TGuiServices() = default;
  // A message box with an OK button.
  virtual void ShowMessage(QWidget* parent, const std::string& text, TMsgDlgType type) = 0;
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(QWidget* parent, const std::string& text) = 0;
  virtual void Beep() = 0;
  // Moves a file or folder (host path) to the desktop's trash, so that it can be restored.
  virtual bool MoveToTrash(const std::string& hostPath) = 0;
  // Opens a file (host path) with the desktop's default application.
  virtual bool OpenFile(const std::string& hostPath) = 0;
  // Shows the properties of a folder (host path) in a window that does not block the caller.
  virtual void ShowProperties(QWidget* parent, const std::string& hostPath) = 0;
};

// The properties window of a file or folder (host path): location, type, size, what it contains,
// dates, owner and permissions. It is not modal; it deletes itself when closed.
QDialog* NewPropertiesDialog(QWidget* parent, const std::string& hostPath);

// The desktop's own services (QMessageBox, the trash, QDesktopServices, a properties window).
TGuiServices& DesktopServices();
