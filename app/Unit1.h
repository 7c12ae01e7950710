// TForm1, Parcelo's one window: a fixed-size wizard of three pages laid out at fixed pixel
// positions. Page 1 asks for the archive (the lister checks that it lists at least one file),
// page 2 for the destination and an optional password, page 3 tells the result. The extraction
// runs on this thread; the engine lets the window process its messages once per block, and the
// progress handler sets the gauges. Message boxes, the file
// dialog and the launches go through TWizardServices and the host layer, so tests drive the
// window headless. The window does not decode archives itself: the engine's TArcova lists them, and
// the extraction job runs the extractor of the archive's type (TUnZip for a zip, TUnArchive for
// the other formats), set up like UnZip1.
//
// Where things are: the controls' places, sizes and fonts in WizardLayout.cpp; the page flow (the
// designed handlers) in Unit1.cpp; the extraction run and what it gathers in WizardRun.cpp; the
// texts of a run's problems in RunReport.cpp; typed paths and folder names in WizardPaths.cpp.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "app/PathLabel.h"
#include "app/RunReport.h"
#include "app/WizardRun.h"
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
extern const char* const kMsgIsAFolder;  // after the folder's path

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

  // Takes an archive as Browse does: a path in the window's syntax, a host path or a file://
  // URL (what a file manager's "Open with", the command line or a drop hands over). What is wrong
  // with it is said in a message box (the one Continue gives for the same file), and false
  // returned; the archive box and the folder name then keep what they held.
  bool ChooseArchive(const std::string& typedPath);

  // ---- state
  const std::string& DestinationPath() const { return FDestinationPath; }
  bool Extracting() const { return FExtracting; }
  // The page a person sees: 1, 2 or 3.
  int CurrentPage() const;
  // The About page the banner opens (a file:// address).
  std::string BannerAddress() const { return FBannerAddress; }
  void SetBannerAddress(const std::string& value) { FBannerAddress = value; }
  // A run that takes at least this long and ends while the window is not active is told by a
  // desktop notification too.
  void SetNotifyAfterMs(qint64 value) { FNotifyAfterMs = value; }
  // The report of the last extraction.
  const wizard::TRunReport& LastRun() const { return FLastRun; }

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
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // ---- the layout (WizardLayout.cpp): controls at their designed places, fonts fitted
  void SetWindowLook();
  void CreatePage1();
  void CreatePage2();
  void CreatePage3();
  void SetTabOrders();
  void SetClientSize(int width, int height);
  // Page 3's sentence, its font fitted to the room above the banner.
  void SetResultSentence(const std::string& sentence);

  // ---- the page flow (Unit1.cpp)
  void ConnectHandlers();
  // The one check of a chosen archive, whichever way it came: the message for what is wrong with
  // it, or empty when the lister finds at least one file in it.
  std::string ArchiveProblem(const std::string& path);
  // The archive's name without its extension into "Destination Folder Name": always (Browse and
  // the other ways of choosing), or only when the box is empty or holds the last proposal.
  void ProposeFolderName(const std::string& archive, bool always);
  void ShowSelectedDirectory();
  // Puts the tree's highlight on the home drive, which "Selected Directory" starts with.
  void HighlightHomeDrive();
  void ShowError(const std::string& text);
  void ShowPage2Buttons();
  void ShowBanner(bool running);
  // The message for a folder (the destination) or the About page that the desktop could not open.
  void SayCannotOpen(const std::string& target);

  wizard::TWizardServices* FServices;
  std::string FDestinationPath;
  std::string FBannerAddress;
  std::string FProposedFolderName;
  qint64 FNotifyAfterMs = 5000;
  QMovie* FBanner = nullptr;
  bool FShownOnce = false;
  bool FExtracting = false;
  bool FChecking = false;  // page 1's check of an archive is running
  bool FCloseRequested = false;
  // The run in work, and what the last run came to.
  wizard::TWizardRun* FRun = nullptr;
  wizard::TRunReport FLastRun;
};
