// TKvDirTree21: the folder tree of the destination page. A root node for the computer, one node
// per present drive (C: the home folder, Z: the file system, D:..Y: mounted volumes), folders
// listed lazily when a node is first expanded, sorted by name; SelectedPath follows mouse and
// arrow-key selection. Its context menu creates, renames, deletes (to the trash), moves and copies
// folders, sums a tree's size, lists a folder's files and shows a folder's properties. Paths are
// in the system's Windows syntax and reach the file system through the host layer. Message boxes
// and desktop services go through TGuiServices, which tests replace.
#pragma once

#include <QListWidget>
#include <QPointer>
#include <QTreeWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "widgets/wgtServices.h"

class QAction;

class QMenu;

enum TLanguage { lnAutomatic, lnEnglish, lnGerman, lnFrench, lnSpanish, lnPortuguese };

using TDirChangeEvent = std::function<void(QObject* Sender, const std::string& NewPath)>;
using TFileChangeEvent = std::function<void(QObject* Sender, const std::string& FileName)>;

// The fourteen characters a folder name may not hold: \ * ? / = " < > | : , ; + ^
bool IsValidFolderName(const std::string& name);
// The tree-size message body: "<what>\n\n<n> Bytes\n<x> KB" (or "<y> MB" beyond 99999 KB), with
// the locale's thousands separators.
std::string FormatTreeSize(const std::string& what, uint64_t bytes);

class TKvDirTree21 : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TKvDirTree21(QWidget* parent = nullptr);
  ~TKvDirTree21() override;

  // ---- properties ----
  // The selected node's path: "C:\" for a drive, "C:\Users\x" for a folder, "Drives" for the
  // root. The setter only stores the string (when it differs, compared without regard to case).
  std::string SelectedPath() const { return FSelectedPath; }
  void SetSelectedPath(const std::string& value);
  std::string SelectedFile() const { return FSelectedFile; }
  void SetSelectedFile(const std::string& value) { FSelectedFile = value; }
  // An optional list that shows the files of the selected folder.
  QListWidget* FileList() const { return FFileList; }
  void SetFileList(QListWidget* value);
  bool PopUpMenuEnabled() const { return FPopUpMenuEnabled; }
  void SetPopUpMenuEnabled(bool value) { FPopUpMenuEnabled = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  TLanguage Language() const { return FLanguage; }
  void SetLanguage(TLanguage value);
  bool HideSelection() const { return FHideSelection; }
  void SetHideSelection(bool value);
  int Indent() const { return indentation(); }
  void SetIndent(int value) { setIndentation(value); }
  // Message boxes and desktop services; nullptr: the desktop's own.
  TGuiServices* Services() const;
  void SetServices(TGuiServices* value) { FServices = value; }

  // ---- events ----
  TWidgetEvent OnClick;  // a left click on a node (not on an expand arrow or below the nodes)
  // A key released in the tree, after the tree has dealt with it (a selection the keyboard made
  // is in SelectedPath by then).
  TWidgetKeyEvent OnKeyUp;
  TDirChangeEvent OnDirChange;
  TFileChangeEvent OnFileChange;

  // ---- operations ----
  // Clears the tree, adds the root and one node per present drive and expands the root.
  void BuildTree();
  // Selects and expands the nodes of an existing folder level by level, sets SelectedPath to it
  // with a trailing "\" and fires OnDirChange. Does nothing for a path that is not a folder.
  void NavigateTo(const std::string& path);
  // The path of a node ("C:\" for a drive node, "C:\a\b" below it, "" for the root).
  std::string NodePath(const QTreeWidgetItem* node) const;
  // Whether a disk is in the drive; when not and `showMessage`, beeps and says so.
  bool DriveReady(char letter, bool showMessage);
  QTreeWidgetItem* RootNode() const;
  // The node a path leads to among the nodes already built, or nullptr.
  QTreeWidgetItem* FindNode(const std::string& path) const;
  QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const std::string& part, bool drive) const;

  // The context menu and its items by item name ("AddNode", "EditNode", "DelNode", "CutNode",
  // "CopyNode", "PasteNode", "GetTreeSize", "ShowFolderContents", "ConnectNetResource",
  // "DisConnectNetResource", "ItemProperty").
  QMenu* PopupMenu() const { return FMenu; }
  QAction* MenuItem(const QString& itemName) const;

  // The menu's operations on the selected node.
  void AddNode();
  void EditNode();
  void DelNode();
  void CutNode();
  void CopyNode();
  void PasteNode();
  void GetTreeSize();
  void ShowFolderContents();
  void ItemProperty();
  // Ends an in-place edit of `node` with `newName` as if the person had typed it.
  void FinishRename(QTreeWidgetItem* node, const std::string& newName);
  // The folder-contents window while it is open, else nullptr.
  QWidget* FolderContentsWindow() const { return FContentsWindow; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  void BuildMenu();
  void ExpandNode(QTreeWidgetItem* node);
  void SelectionChangedBy(QTreeWidgetItem* node);
  void UpdateFileList();
  void StoreSelectedPath(const std::string& value);

  std::string FSelectedPath;
  std::string FSelectedFile;
  QPointer<QListWidget> FFileList;
  bool FPopUpMenuEnabled = true;
  bool FReadOnly = false;
  TLanguage FLanguage = lnEnglish;
  bool FHideSelection = true;
  TGuiServices* FServices = nullptr;
  QMenu* FMenu = nullptr;
  QPointer<QWidget> FContentsWindow;
  std::string FClipboardPath;
  bool FClipboardMove = false;
  std::string FJustCreatedPath;
  std::string FPendingRenamePath;  // a name typed in place, waiting for the editor to close
  std::string FPendingRenameName;
  bool FRenamePending = false;
  bool FBuilt = false;
  bool FPressedOnNode = false;  // the left button went down on a node's caption or icon
  uint32_t FRemoteDrives = 0;   // bit per letter, A = bit 0
};
