// TKvDirTree21: the drives and folders as tree nodes, built lazily; the selection and its path;
// navigation to a path; the context menu's folder operations and the folder-contents window.
// Paths are system paths ("C:\a\b") throughout and become host paths only where a file operation
// needs one. Every question and message goes through TGuiServices.
#include "widgets/KvFileExplorer28.h"

#include <QAction>
#include <QApplication>
#include <QCollator>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/host.h"
#include "platform/host_ascii.h"
#include "widgets/xpButton.h"

namespace fs = std::filesystem;

namespace {

// ---- texts ----
const char* const kComputerCaption = "Computer";
const char* const kDrivesPath = "Drives";
const char* const kNoDisk = "There is no disk in Drive or Drive is not ready";
const char* const kNotValidDrive = "Not a valid Drive ID";
const char* const kCantAddDrives = "ERROR - Can't add drives";
const char* const kInvalidFolderName = "Folder Name contains invalid characters";
const char* const kInvalidDirectoryName = "Error - Invalid Directory Name";
const char* const kOperationFailed = "File operation failed";
const char* const kDefaultFolderName = "New Folder";
const char* const kContentsHint = "LeftClick - Select\nDblClick  - Open";

// Marks a node whose folders have been listed (expansion happens once until the tree is rebuilt).
constexpr int kListedRole = Qt::UserRole + 1;
// The OK button and the bar it sits on in the folder-contents window.
constexpr int kContentsBarHeight = 22;
constexpr int kContentsButtonWidth = 60;

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
std::string S(const QString& text) {
  return text.toStdString();
}

// "C:\a\b" -> "C:\a"; "C:\a" -> "C:\".
std::string ParentPath(const std::string& path) {
  std::string trimmed = path;
  if (trimmed.size() > 3 && trimmed.back() == '\\') trimmed.pop_back();
  const auto slash = trimmed.rfind('\\');
  if (slash == std::string::npos) return trimmed;
  if (slash == 2 && trimmed[1] == ':') return trimmed.substr(0, 3);
  return trimmed.substr(0, slash);
}

std::string HostPathOf(const std::string& systemPath) {
  std::string hostPath;
  return host::ToHostPath(systemPath, hostPath) ? hostPath : std::string();
}

// The folders directly inside a folder, "." and ".." left out, in no particular order.
std::vector<std::string> SubFolders(const std::string& folder, bool stopAtFirst = false) {
  std::vector<std::string> names;
  host::DirSearch search;
  host::TSearchRec rec;
  for (bool found = search.First(host::JoinPath(folder, "*"), host::faDirectory, rec); found;
       found = search.Next(rec)) {
    if ((rec.Attr & host::faDirectory) == 0 || rec.Name == "." || rec.Name == "..") continue;
    names.push_back(rec.Name);
    if (stopAtFirst) break;
  }
  return names;
}

// Names sorted the way a person reads them: without regard to case, by the locale's rules.
void SortNames(std::vector<std::string>& names) {
  QCollator collator;
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return collator.compare(Q(a), Q(b)) < 0;
  });
}

// The names of the files (not folders) in `folder`, sorted for reading.
std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> files;
  host::DirSearch search;
  host::TSearchRec rec;
  for (bool found = search.First(host::JoinPath(folder, "*"), 0, rec); found;
       found = search.Next(rec)) {
    if ((rec.Attr & host::faDirectory) == 0) files.push_back(rec.Name);
  }
  SortNames(files);
  return files;
}

int Level(const QTreeWidgetItem* node) {
  int level = 0;
  for (const QTreeWidgetItem* up = node ? node->parent() : nullptr; up; up = up->parent()) ++level;
  return level;
}

// Shows the hourglass until the scope ends, however it ends.
class TBusyCursor {
 public:
  TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

QIcon ThemeIcon(const char* name, QFileIconProvider::IconType fallback) {
  const QFileIconProvider provider;
  return QIcon::fromTheme(QString::fromLatin1(name), provider.icon(fallback));
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
  return QIcon::fromTheme(QString::fromLatin1(name), QApplication::style()->standardIcon(fallback));
}

// A folder: closed normally, open while selected.
QIcon FolderIcon() {
  const QFileIconProvider provider;
  QIcon icon = QIcon::fromTheme("folder", provider.icon(QFileIconProvider::Folder));
  const QIcon open = QIcon::fromTheme("folder-open", icon);
  for (const int size : {16, 22, 32}) {
    icon.addPixmap(open.pixmap(size, size), QIcon::Selected);
  }
  return icon;
}

QIcon DriveIcon(char letter, host::TDriveType type) {
  if (letter == 'C') return ThemeIcon("user-home", QFileIconProvider::Drive);
  switch (type) {
    case host::dtRemovable:
      return ThemeIcon("drive-removable-media", QFileIconProvider::Drive);
    case host::dtCdRom:
      return ThemeIcon("media-optical", QFileIconProvider::Drive);
    case host::dtRemote:
      return ThemeIcon("folder-remote", QFileIconProvider::Network);
    default:
      return ThemeIcon("drive-harddisk", QFileIconProvider::Drive);
  }
}

// The name a drive shows beside its letter: its label, else what kind of drive it is.
std::string DriveDisplayName(char letter, host::TDriveType type) {
  if (letter == 'C') return "Home";
  if (letter == 'Z') return "File System";
  host::TVolumeInfo info;
  if (host::GetVolumeInformation(host::DriveRoot(letter), info) && !info.Label.empty()) {
    return info.Label;
  }
  switch (type) {
    case host::dtRemovable:
      return "Removable Disk";
    case host::dtCdRom:
      return "CD Drive";
    case host::dtRemote:
      return "Network Drive";
    case host::dtRamDisk:
      return "RAM Disk";
    default:
      return "Local Disk";
  }
}

// Sizes of all regular files below a folder; links are not followed, so a loop ends.
uint64_t TreeBytes(const std::string& hostFolder) {
  uint64_t total = 0;
  std::error_code error;
  fs::recursive_directory_iterator it(hostFolder, fs::directory_options::skip_permission_denied,
                                      error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    std::error_code entryError;
    if (it->is_regular_file(entryError) && !it->is_symlink(entryError)) {
      const auto size = it->file_size(entryError);
      if (!entryError) total += size;
    }
  }
  return total;
}

// Copies a folder with everything in it; links are copied as links. False on any failure.
bool CopyFolder(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  return !error;
}

// Is `inner` the folder `outer` or below it?
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code error;
  const fs::path a = fs::weakly_canonical(inner, error);
  const fs::path b = fs::weakly_canonical(outer, error);
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // a trailing separator
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

// In-place editing of folder captions: refused where the tree says so; the typed name goes to
// TKvDirTree21::FinishRename instead of straight into the caption.
class TRenameDelegate : public QStyledItemDelegate {
 public:
  TRenameDelegate(TKvDirTree21* tree, std::function<bool(QTreeWidgetItem*)> canEdit,
                  std::function<void(QTreeWidgetItem*, const std::string&)> commit)
      : QStyledItemDelegate(tree),
        FTree(tree),
        FCanEdit(std::move(canEdit)),
        FCommit(std::move(commit)) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (!FCanEdit(FTree->itemFromIndex(index))) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    auto* line = qobject_cast<QLineEdit*>(editor);
    QTreeWidgetItem* node = FTree->itemFromIndex(index);
    if (line && node) FCommit(node, S(line->text()));
  }

 private:
  TKvDirTree21* FTree;
  std::function<bool(QTreeWidgetItem*)> FCanEdit;
  std::function<void(QTreeWidgetItem*, const std::string&)> FCommit;
};

}  // namespace

// ---- free functions -----------------------------------------------------------------------------

bool IsValidFolderName(const std::string& name) {
  static const std::string kForbidden = "\\*?/=\"<>|:,;+^";
  return !name.empty() && name.find_first_of(kForbidden) == std::string::npos;
}

std::string FormatTreeSize(const std::string& what, uint64_t bytes) {
  QLocale locale;
  locale.setNumberOptions(QLocale::DefaultNumberOptions);  // thousands separators even in "C"
  const double kilobytes = static_cast<double>(bytes) / 1024.0;
  QString text =
      Q(what) + "\n\n" + locale.toString(static_cast<double>(bytes), 'f', 0) + " Bytes\n";
  if (kilobytes > 99999) {
    text += locale.toString(kilobytes / 1024.0, 'f', 2) + " MB";
  } else {
    text += locale.toString(kilobytes, 'f', 2) + " KB";
  }
  return S(text);
}

// ---- construction and properties ----------------------------------------------------------------

TKvDirTree21::TKvDirTree21(QWidget* parent) : QTreeWidget(parent) {
  setHeaderHidden(true);
  setColumnCount(1);
  setSortingEnabled(false);
  setRootIsDecorated(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  // The typed name is only remembered here; the rename runs once the editor has closed
  // (closeEditor), so that questions and messages never appear over an open editor.
  setItemDelegate(new TRenameDelegate(
      this, [this](QTreeWidgetItem* node) { return node && Level(node) >= 2 && !FReadOnly; },
      [this](QTreeWidgetItem* node, const std::string& name) {
        FPendingRenamePath = NodePath(node);
        FPendingRenameName = name;
        FRenamePending = true;
      }));
  connect(this, &QTreeWidget::itemExpanded, this,
          [this](QTreeWidgetItem* node) { ExpandNode(node); });
  SetHideSelection(true);
  BuildMenu();
  BuildTree();
  setAccessibleName("Folders");
}

void TKvDirTree21::StoreSelectedPath(const std::string& value) {
  FSelectedPath = value;
  // A screen reader hears the folder that was chosen, not only the caption of its node.
  setAccessibleDescription(Q(value));
}

TKvDirTree21::~TKvDirTree21() {
  if (FContentsWindow) delete FContentsWindow.data();
}

void TKvDirTree21::SetSelectedPath(const std::string& value) {
  if (!host::SameTextAscii(value, FSelectedPath)) StoreSelectedPath(value);
}

void TKvDirTree21::SetFileList(QListWidget* value) {
  FFileList = value;
  UpdateFileList();
}

void TKvDirTree21::SetLanguage(TLanguage value) {
  if (value == FLanguage) return;
  FLanguage = value;
  BuildMenu();
}

void TKvDirTree21::SetHideSelection(bool value) {
  FHideSelection = value;
  QPalette colors = palette();
  const QPalette active = QApplication::palette(this);
  // Without focus the selection either vanishes or stays as visible as with focus.
  colors.setColor(QPalette::Inactive, QPalette::Highlight,
                  value ? active.color(QPalette::Inactive, QPalette::Base)
                        : active.color(QPalette::Active, QPalette::Highlight));
  colors.setColor(QPalette::Inactive, QPalette::HighlightedText,
                  value ? active.color(QPalette::Inactive, QPalette::Text)
                        : active.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(colors);
}

TGuiServices* TKvDirTree21::Services() const {
  return FServices ? FServices : &DesktopServices();
}

// ---- nodes --------------------------------------------------------------------------------------

void TKvDirTree21::BuildTree() {
  TBusyCursor busy;
  clear();
  FRemoteDrives = 0;
  auto* root = new QTreeWidgetItem(this);
  root->setText(0, kComputerCaption);
  root->setIcon(0, ThemeIcon("computer", QFileIconProvider::Computer));
  const uint32_t drives = host::GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((drives & (1u << i)) == 0) continue;
    const char letter = static_cast<char>('A' + i);
    const host::TDriveType type = host::GetDriveType(host::DriveRoot(letter));
    if (type == host::dtRemote) FRemoteDrives |= 1u << i;
    std::string name = DriveDisplayName(letter, type);
    name = name.substr(0, name.find('('));
    auto* drive = new QTreeWidgetItem(root);
    drive->setText(0, Q(std::string(" (") + letter + ":)  " + name));
    drive->setIcon(0, DriveIcon(letter, type));
    drive->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  root->setData(0, kListedRole, true);
  root->setExpanded(true);
  FBuilt = true;
}

void TKvDirTree21::ExpandNode(QTreeWidgetItem* node) {
  if (!node || node->childCount() > 0 || node->data(0, kListedRole).toBool()) return;
  TBusyCursor busy;
  node->setData(0, kListedRole, true);
  const std::string path = NodePath(node);
  node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  std::vector<std::string> names = SubFolders(path);
  SortNames(names);
  const char letter = path.empty() ? 0 : host::UpperAscii(path[0]);
  const bool remote = letter >= 'A' && letter <= 'Z' && (FRemoteDrives & (1u << (letter - 'A')));
  const QIcon folder = FolderIcon();
  QList<QTreeWidgetItem*> children;
  for (const auto& name : names) {
    auto* child = new QTreeWidgetItem;
    child->setText(0, Q(name));
    child->setIcon(0, folder);
    child->setFlags(child->flags() | Qt::ItemIsEditable);
    // Looking into folders on a network drive costs too much: they all get the marker.
    const bool marker = remote || !SubFolders(host::JoinPath(path, name), true).empty();
    child->setChildIndicatorPolicy(marker ? QTreeWidgetItem::ShowIndicator
                                          : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    children.append(child);
  }
  node->addChildren(children);
}

std::string TKvDirTree21::NodePath(const QTreeWidgetItem* node) const {
  std::string built;
  bool deepest = true;
  for (const QTreeWidgetItem* up = node; up; up = up->parent()) {
    const int level = Level(up);
    if (level == 0) break;
    const std::string caption = S(up->text(0));
    if (level == 1) {
      // The letter is the third character of " (C:)  name".
      const char letter = caption.size() > 2 ? caption[2] : '?';
      built = std::string(1, letter) + ":\\" + built;
    } else {
      built = deepest ? caption : caption + "\\" + built;
    }
    deepest = false;
  }
  return built;
}

QTreeWidgetItem* TKvDirTree21::RootNode() const {
  return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr;
}

// The child of `parent` for one component of a path: a drive ("C:") below the root, a folder
// name further down; case does not matter.
QTreeWidgetItem* TKvDirTree21::ChildNamed(QTreeWidgetItem* parent, const std::string& part,
                                          bool drive) const {
  for (int i = 0; i < parent->childCount(); ++i) {
    QTreeWidgetItem* child = parent->child(i);
    if (drive ? host::SameTextAscii(NodePath(child), part + "\\")
              : host::SameTextAscii(S(child->text(0)), part))
      return child;
  }
  return nullptr;
}

QTreeWidgetItem* TKvDirTree21::FindNode(const std::string& path) const {
  QTreeWidgetItem* root = RootNode();
  if (!root) return nullptr;
  if (path.empty() || host::SameTextAscii(path, kDrivesPath)) return root;
  QTreeWidgetItem* node = nullptr;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    QTreeWidgetItem* found = ChildNamed(node ? node : root, part, node == nullptr);
    if (!found) return nullptr;
    node = found;
  }
  return node;
}

// ---- selection and readiness --------------------------------------------------------------------

bool TKvDirTree21::DriveReady(char letter, bool showMessage) {
  letter = host::UpperAscii(letter);
  if (letter < 'A' || letter > 'Z') {
    if (showMessage) Services()->ShowMessage(this, kNotValidDrive, TMsgDlgType::mtError);
    return false;
  }
  uint64_t freeBytes = 0, totalBytes = 0;
  const bool ready = host::GetDiskFreeSpace(host::DriveRoot(letter), freeBytes, totalBytes);
  if (!ready && showMessage) {
    Services()->Beep();
    Services()->ShowMessage(this, kNoDisk, TMsgDlgType::mtError);
  }
  return ready;
}

void TKvDirTree21::SelectionChangedBy(QTreeWidgetItem* node) {
  if (!node) return;
  const int level = Level(node);
  if (level == 0) {
    if (node->childCount() == 0) {
      BuildTree();
      setCurrentItem(RootNode());
    }
    StoreSelectedPath(kDrivesPath);
  } else {
    StoreSelectedPath(NodePath(node));
  }
  if (level == 1) {
    const host::TDriveType type = host::GetDriveType(FSelectedPath);
    if ((type == host::dtRemovable || type == host::dtCdRom) &&
        !DriveReady(FSelectedPath[0], true)) {
      return;  // SelectedPath keeps the drive: the caller may still use it
    }
  }
  if (OnDirChange) OnDirChange(this, FSelectedPath);
  UpdateFileList();
}

void TKvDirTree21::UpdateFileList() {
  if (!FFileList) return;
  FFileList->clear();
  if (FSelectedPath.empty() || host::SameTextAscii(FSelectedPath, kDrivesPath)) return;
  for (const auto& name : FileNames(FSelectedPath)) FFileList->addItem(Q(name));
}

void TKvDirTree21::NavigateTo(const std::string& requested) {
  if (requested.size() <= 1) return;
  const std::string path = host::ExpandFileName(requested);
  if (!host::DirectoryExists(path)) return;
  if (!FBuilt || !RootNode() || RootNode()->childCount() == 0) BuildTree();
  QTreeWidgetItem* root = RootNode();
  if (!root) return;
  root->setExpanded(false);
  QTreeWidgetItem* node = root;
  size_t start = 0;
  bool atDrive = true;
  while (start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    ExpandNode(node);
    node->setExpanded(true);
    QTreeWidgetItem* found = ChildNamed(node, part, atDrive);
    if (!found) break;
    node = found;
    atDrive = false;
    setCurrentItem(node);
  }
  ExpandNode(node);
  node->setExpanded(true);
  setCurrentItem(node);
  scrollToItem(node);
  StoreSelectedPath(path.back() == '\\' ? path : path + "\\");
  if (OnDirChange) OnDirChange(this, FSelectedPath);
  UpdateFileList();
}

// ---- input --------------------------------------------------------------------------------------

void TKvDirTree21::mousePressEvent(QMouseEvent* event) {
  QTreeWidgetItem* hit = itemAt(event->position().toPoint());
  const bool onItem = hit && visualItemRect(hit).contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) FPressedOnNode = onItem;
  QTreeWidget::mousePressEvent(event);
  if (onItem && (event->button() == Qt::LeftButton || event->button() == Qt::RightButton)) {
    setCurrentItem(hit);
    SelectionChangedBy(hit);
  }
}

void TKvDirTree21::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  // A click chooses a node; one on an expand arrow or on the empty space below the nodes only
  // opens or closes a branch, and the caller is not told of it as a choice.
  if (event->button() != Qt::LeftButton || !FPressedOnNode) return;
  FPressedOnNode = false;
  if (OnClick) OnClick(this);
}

void TKvDirTree21::keyPressEvent(QKeyEvent* event) {
  // Space chooses the highlighted node (when it is released). It is not a search for a caption
  // beginning with a blank, as an item view makes of it: every drive's caption begins with one.
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier &&
      state() != QAbstractItemView::EditingState) {
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void TKvDirTree21::keyReleaseEvent(QKeyEvent* event) {
  QTreeWidget::keyReleaseEvent(event);
  if (event->isAutoRepeat()) return;
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
      SelectionChangedBy(currentItem());
      break;
    // The other ways a keyboard moves or confirms the selection choose the node as well.
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (state() != QAbstractItemView::EditingState) SelectionChangedBy(currentItem());
      break;
    case Qt::Key_F5: {
      const std::string path = FSelectedPath;
      BuildTree();
      NavigateTo(path);
      break;
    }
    default:
      break;
  }
  if (OnKeyUp) {
    int key = event->key();
    OnKeyUp(this, key, static_cast<int>(event->modifiers()));
  }
}

void TKvDirTree21::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  QTreeWidget::closeEditor(editor, hint);
  if (!FRenamePending) return;
  FRenamePending = false;
  if (QTreeWidgetItem* node = FindNode(FPendingRenamePath)) FinishRename(node, FPendingRenameName);
}

void TKvDirTree21::showEvent(QShowEvent* event) {
  if (!FBuilt) BuildTree();
  QTreeWidget::showEvent(event);
}

// ---- the context menu ---------------------------------------------------------------------------

void TKvDirTree21::BuildMenu() {
  delete FMenu;
  FMenu = new QMenu(this);
  // Only English captions exist; the other languages show them too.
  struct TItem {
    const char* Name;
    const char* Caption;
    const char* Theme;
    QStyle::StandardPixmap Fallback;
    void (TKvDirTree21::*Run)();
  };
  const TItem items[] = {
      {"AddNode", "&New Folder", "folder-new", QStyle::SP_FileDialogNewFolder,
       &TKvDirTree21::AddNode},
      {"EditNode", "&Rename Folder", "edit-rename", QStyle::SP_FileDialogDetailedView,
       &TKvDirTree21::EditNode},
      {"DelNode", "&Delete Folder", "edit-delete", QStyle::SP_TrashIcon, &TKvDirTree21::DelNode},
      {"CutNode", "Cu&t", "edit-cut", QStyle::SP_DialogDiscardButton, &TKvDirTree21::CutNode},
      {"CopyNode", "&Copy", "edit-copy", QStyle::SP_FileDialogContentsView,
       &TKvDirTree21::CopyNode},
      {"PasteNode", "&Paste", "edit-paste", QStyle::SP_DialogSaveButton, &TKvDirTree21::PasteNode},
      {"GetTreeSize", "Tree &Size", "drive-harddisk", QStyle::SP_DriveHDIcon,
       &TKvDirTree21::GetTreeSize},
      {"ShowFolderContents", "&Folder Contents", "document-open-folder", QStyle::SP_DirOpenIcon,
       &TKvDirTree21::ShowFolderContents},
      {"ConnectNetResource", "&Map Network Drive ...", "network-connect", QStyle::SP_DriveNetIcon,
       nullptr},
      {"DisConnectNetResource", "Dis&Connect Network Drive", "network-disconnect",
       QStyle::SP_BrowserStop, nullptr},
      {"ItemProperty", "&Property", "document-properties", QStyle::SP_FileDialogInfoView,
       &TKvDirTree21::ItemProperty},
  };
  for (const TItem& item : items) {
    QAction* action = FMenu->addAction(ThemeIcon(item.Theme, item.Fallback), item.Caption);
    action->setObjectName(item.Name);
    if (item.Run) {
      connect(action, &QAction::triggered, this, [this, run = item.Run] { (this->*run)(); });
    } else {
      action->setEnabled(false);  // this host has no dialogs to map or disconnect network drives
    }
  }
  connect(FMenu, &QMenu::aboutToShow, this, [this] {
    const int level = Level(currentItem());
    const bool folder = currentItem() && level >= 2;
    const bool drive = currentItem() && level >= 1;
    MenuItem("EditNode")->setEnabled(folder && !FReadOnly);
    MenuItem("DelNode")->setEnabled(folder);
    MenuItem("CutNode")->setEnabled(folder);
    MenuItem("CopyNode")->setEnabled(folder);
    MenuItem("PasteNode")->setEnabled(drive && !FClipboardPath.empty());
    MenuItem("GetTreeSize")->setEnabled(drive);
    MenuItem("ShowFolderContents")->setEnabled(drive);
    MenuItem("ItemProperty")->setEnabled(drive);
  });
}

QAction* TKvDirTree21::MenuItem(const QString& itemName) const {
  return FMenu ? FMenu->findChild<QAction*>(itemName) : nullptr;
}

void TKvDirTree21::contextMenuEvent(QContextMenuEvent* event) {
  if (!FPopUpMenuEnabled || !FMenu) {
    event->ignore();
    return;
  }
  FMenu->popup(event->globalPos());  // does not wait: nothing blocks
}

void TKvDirTree21::AddNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) == 0) {
    Services()->ShowMessage(this, kCantAddDrives, TMsgDlgType::mtError);
    return;
  }
  const std::string parent = NodePath(node);
  std::string name = kDefaultFolderName;
  if (!IsValidFolderName(name)) {
    Services()->Beep();
    Services()->ShowMessage(this, kInvalidFolderName, TMsgDlgType::mtError);
    return;
  }
  // An existing "New Folder" is never reused: the next free "New Folder (2)", (3), ...
  for (int n = 2; host::DirectoryExists(host::JoinPath(parent, name)) ||
                  host::FileExists(host::JoinPath(parent, name));
       ++n) {
    name = std::string(kDefaultFolderName) + " (" + std::to_string(n) + ")";
  }
  const std::string path = host::JoinPath(parent, name);
  {
    TBusyCursor busy;
    if (!host::CreateDirectory(path)) {
      Services()->ShowMessage(this, kOperationFailed, TMsgDlgType::mtError);
      return;
    }
  }
  BuildTree();
  NavigateTo(path);
  FJustCreatedPath = path;
  QTreeWidgetItem* created = FindNode(path);
  if (created && !FReadOnly) editItem(created, 0);
}

void TKvDirTree21::EditNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 2 || FReadOnly) return;
  editItem(node, 0);
}

void TKvDirTree21::FinishRename(QTreeWidgetItem* node, const std::string& newName) {
  if (!node || Level(node) < 2 || FReadOnly) return;
  const std::string oldPath = NodePath(node);
  const std::string oldName = S(node->text(0));
  const bool justCreated = host::SameTextAscii(oldPath, FJustCreatedPath);
  FJustCreatedPath.clear();
  if (newName.empty()) {
    Services()->Beep();
    return;
  }
  if (!IsValidFolderName(newName)) {
    Services()->Beep();
    Services()->ShowMessage(this, newName + "\n" + kInvalidDirectoryName, TMsgDlgType::mtError);
    return;
  }
  if (newName == oldName) return;
  if (!justCreated && !Services()->AskYesNo(this, "Do you want to rename the selected folder\n\"" +
                                                      oldName + "\" to \"" + newName + "\"?")) {
    return;
  }
  const std::string parentPath = ParentPath(oldPath);
  {
    TBusyCursor busy;
    if (!host::RenameFile(oldPath, host::JoinPath(parentPath, newName))) {
      Services()->ShowMessage(this, kOperationFailed, TMsgDlgType::mtError);
      return;
    }
  }
  node->setText(0, Q(newName));
  QTreeWidgetItem* parent = node->parent();
  setCurrentItem(parent);
  SelectionChangedBy(parent);
}

void TKvDirTree21::DelNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 2) return;
  const std::string path = NodePath(node);
  if (!host::DirectoryExists(path)) {
    Services()->Beep();
    Services()->ShowMessage(this, path + " not found", TMsgDlgType::mtError);
    return;
  }
  if (!Services()->AskYesNo(this, "Do you want to move the folder \"" + S(node->text(0)) +
                                      "\" and everything in it to the trash?")) {
    return;
  }
  bool moved = false;
  {
    TBusyCursor busy;
    const std::string hostPath = HostPathOf(path);
    moved = !hostPath.empty() && Services()->MoveToTrash(hostPath);
  }
  if (!moved) {
    Services()->ShowMessage(this, kOperationFailed, TMsgDlgType::mtError);
    return;
  }
  QTreeWidgetItem* parent = node->parent();
  delete node;
  setCurrentItem(parent);
  SelectionChangedBy(parent);
}

void TKvDirTree21::CutNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 2) return;
  FClipboardPath = NodePath(node);
  FClipboardMove = true;
}

void TKvDirTree21::CopyNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 2) return;
  FClipboardPath = NodePath(node);
  FClipboardMove = false;
}

void TKvDirTree21::PasteNode() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 1 || FClipboardPath.empty()) return;
  const std::string target = NodePath(node);
  const std::string source = FClipboardPath;
  const std::string sourceHost = HostPathOf(source);
  const std::string targetHost = HostPathOf(target);
  bool done = false;
  {
    TBusyCursor busy;
    std::error_code error;
    const fs::path from(sourceHost);
    const fs::path to = fs::path(targetHost) / from.filename();
    // A folder never goes into itself, and nothing already there is replaced.
    const bool possible = !sourceHost.empty() && !targetHost.empty() &&
                          fs::is_directory(fs::symlink_status(from, error)) &&
                          !IsWithin(targetHost, sourceHost) &&
                          !fs::exists(fs::symlink_status(to, error));
    if (possible && FClipboardMove) {
      fs::rename(from, to, error);
      if (error == std::errc::cross_device_link) {
        // Another file system: copy, then remove the original only when the copy is whole.
        done = CopyFolder(from, to);
        if (done) {
          fs::remove_all(from, error);
        } else {
          fs::remove_all(to, error);
        }
      } else {
        done = !error;
      }
    } else if (possible) {
      done = CopyFolder(from, to);
      if (!done) fs::remove_all(to, error);
    }
  }
  if (!done) {
    Services()->ShowMessage(this, kOperationFailed, TMsgDlgType::mtError);
    return;
  }
  if (FClipboardMove) FClipboardPath.clear();
  BuildTree();
  NavigateTo(target);
}

void TKvDirTree21::GetTreeSize() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 1) return;
  const std::string path = NodePath(node);
  uint64_t bytes = 0;
  {
    TBusyCursor busy;
    const std::string hostPath = HostPathOf(path);
    if (!hostPath.empty()) bytes = TreeBytes(hostPath);
  }
  const std::string what =
      Level(node) == 1 ? "Drive " + path : "Folder \"" + S(node->text(0)) + "\"";
  Services()->ShowMessage(this, FormatTreeSize(what, bytes), TMsgDlgType::mtInformation);
}

void TKvDirTree21::ShowFolderContents() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 1) return;
  const std::string folder = NodePath(node);
  if (FContentsWindow) delete FContentsWindow.data();

  auto* window = new QWidget(this, Qt::Tool | Qt::WindowStaysOnTopHint);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setObjectName("FolderContents");
  window->setWindowTitle(Q("Files in " + folder));
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* list = new QListWidget(window);
  list->setObjectName("Files");
  list->setToolTip(kContentsHint);
  layout->addWidget(list);
  auto* bar = new QWidget(window);
  bar->setFixedHeight(kContentsBarHeight);
  auto* barLayout = new QHBoxLayout(bar);
  barLayout->setContentsMargins(0, 0, 0, 0);
  barLayout->addStretch();
  auto* ok = new TxpButton(bar);
  ok->setObjectName("OK");
  ok->SetCaption("&OK");
  ok->setFixedSize(kContentsButtonWidth, kContentsBarHeight);
  barLayout->addWidget(ok);
  barLayout->addStretch();
  layout->addWidget(bar);

  {
    TBusyCursor busy;
    const std::vector<std::string> files = FileNames(folder);
    QFileIconProvider icons;
    const std::string hostFolder = HostPathOf(folder);
    for (const auto& name : files) {
      auto* item =
          new QListWidgetItem(icons.icon(QFileInfo(Q(hostFolder + "/" + name))), Q(name), list);
      item->setToolTip(kContentsHint);
    }
  }
  connect(list, &QListWidget::itemDoubleClicked, this, [this, folder](QListWidgetItem* item) {
    const std::string name = S(item->text());
    const std::string hostPath = HostPathOf(host::JoinPath(folder, name));
    if (hostPath.empty() || !Services()->OpenFile(hostPath)) {
      Services()->ShowMessage(this, "ERROR - Can't Open file " + name, TMsgDlgType::mtError);
    }
  });
  ok->OnClick = [this, window, list, folder](QObject*) {
    QListWidgetItem* item = list->currentItem();
    const std::string chosen = item ? host::JoinPath(folder, S(item->text())) : std::string();
    window->close();
    FSelectedFile = chosen;
    if (OnFileChange) OnFileChange(this, FSelectedFile);
    NavigateTo(folder);
  };
  // Over the tree, as large as the tree (at least a usable size), movable and sizeable.
  window->resize(std::max(width(), 220), std::max(height(), 200));
  window->move(mapToGlobal(QPoint(0, 0)));
  FContentsWindow = window;
  window->show();
}

void TKvDirTree21::ItemProperty() {
  QTreeWidgetItem* node = currentItem();
  if (!node || Level(node) < 1) return;
  const std::string hostPath = HostPathOf(NodePath(node));
  if (hostPath.empty()) {
    Services()->ShowMessage(this, "ERROR - Can't properties file " + NodePath(node),
                            TMsgDlgType::mtError);
    return;
  }
  Services()->ShowProperties(this, hostPath);
}
