// TForm1, Parcelo's one window: a fixed-size wizard of three pages laid out at fixed pixel
// positions. Page 1 asks for the archive (the lister checks that it lists at least one file),
// page 2 for the destination and an optional password, page 3 tells the result. The extraction
// runs on this thread; the progress handler keeps the window painting. Message boxes, the file
// dialog and the launches go through TWizardServices and the host layer, so tests drive the
// window headless. The window does not decode archives itself: the engine's TArcova and TUnZip do.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "app/PathLabel.h"
#include "app/RunReport.h"
#include "app/WizardServices.h"
#include "archive/formats/arvArcova.h"
#include "archive/zip/arvUnZip.h"
#include "widgets/Gauges.h"
#include "widgets/KvFileExplorer28.h"
#include "widgets/xpButton.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QMovie;
class QPlainTextEdit;

// The texts of the window's messages.
extern const char* const kMsgNoFilesInZip;
extern const char* const kMsgZipMissing;
extern const char* const kMsgNoDirectory;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // `services`: message boxes, questions and the file dialog; nullptr for the desktop's own.
  explicit TForm1(wizard::TWizardServices* services = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- the designed event handlers
  void FormActivate(QObject* Sender);
  void xpButton1Click(QObject* Sender);  // Browse
  void xpButton2Click(QObject* Sender);  // Continue
  void KvDirTree211Click(QObject* Sender);
  void xpButton5Click(QObject* Sender);  // Unzip
  void xpButton6Click(QObject* Sender);  // Go Back
  void UnZip1Progress(TObject* Sender, uint8_t ProgressByFile, uint8_t ProgressByArchive);
  void xpButton3Click(QObject* Sender);  // Goto Folder
  void xpButton4Click(QObject* Sender);  // Another?
  void xpButton7Click(QObject* Sender);  // Close
  void Image1Click(QObject* Sender);     // the banner

  // Takes an archive as if Browse had chosen it: a path in the window's syntax, a host path or a
  // file:// URL (what a file manager's "Open with" or a drop hands over).
  void ChooseArchive(const std::string& typedPath);

  // ---- state
  const std::string& DestinationPath() const { return FDestinationPath; }
  bool Extracting() const { return FExtracting; }
  // The page a person sees: 1, 2 or 3.
  int CurrentPage() const;
  // The About page the banner opens (a file:// address).
  std::string BannerAddress() const { return FBannerAddress; }
  void SetBannerAddress(const std::string& value) { FBannerAddress = value; }
  // The report of the last extraction.
  const wizard::TRunReport& LastRun() const { return FRun; }

  // ---- the controls, by their design names
  QWidget* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Image3 = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* Edit1 = nullptr;
  TxpButton* xpButton1 = nullptr;
  TxpButton* xpButton2 = nullptr;

  QWidget* Panel2 = nullptr;
  TKvDirTree21* KvDirTree211 = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  QWidget* Bevel1 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QLineEdit* Edit2 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* Edit3 = nullptr;
  QLabel* Label6 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QLineEdit* Edit4 = nullptr;
  QLabel* Label5 = nullptr;
  TGauge* Gauge1 = nullptr;
  TGauge* Gauge2 = nullptr;
  TxpButton* xpButton6 = nullptr;
  TxpButton* xpButton5 = nullptr;

  QWidget* Panel3 = nullptr;
  TPathLabel* Label2 = nullptr;
  TxpButton* xpButton3 = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  TxpButton* xpButton4 = nullptr;
  TxpButton* xpButton7 = nullptr;

  wizard::TOpenDialog OpenDialog1;
  TUnZip UnZip1;
  TArcova Arcova1;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreatePage1();
  void CreatePage2();
  void CreatePage3();
  void SetTabOrders();
  void SetClientSize(int width, int height);
  void ShowError(const std::string& text);
  // How many of the archive's file entries would land on files that exist below `destination`.
  int CountExisting(const std::string& archive, const std::string& destination);
  void ShowPage2Buttons();
  void ShowBanner(bool running);
  void OnExtractError(const std::string& fileName, const std::string& extendedMsg, int code);
  // Whether an error the engine reports names a member (as listed, or its output path) rather
  // than the archive or one of its volumes.
  bool NamesAMember(const std::string& fileName) const;

  wizard::TWizardServices* FServices;
  std::string FDestinationPath;
  std::string FBannerAddress;
  QMovie* FBanner = nullptr;
  bool FShownOnce = false;
  bool FExtracting = false;
  bool FCloseRequested = false;
  // What the run in work has seen of its members.
  wizard::TRunReport FRun;
  int FCurrent = -1;      // index in FRun.Members of the member in work
  int FEarlyReport = -1;  // index of a member reported on before it began, until the next one
};
