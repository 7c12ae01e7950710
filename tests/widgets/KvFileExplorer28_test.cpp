// TKvDirTree21 on temporary folders behind fake drives (the host layer's seams): the drive nodes,
// lazy sorted folders, node paths, selection by mouse and keys, readiness, F5 and navigation, and
// every context-menu operation on real folders, with message boxes, the trash and the desktop
// replaced by a recording fake so that nothing blocks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/host.h"
#include "platform/seams.h"
#include "support/TempDir.h"
#include "widgets/KvFileExplorer28.h"
#include "widgets/xpButton.h"

namespace {

namespace fs = std::filesystem;
using parcelo::test::TempDir;

// Records every message and question; answers questions from a queue (No when empty); "trashes"
// by moving into a folder of the test.
class TFakeServices : public TGuiServices {
 public:
  void ShowMessage(QWidget*, const std::string& text, TMsgDlgType type) override {
    Messages.push_back(text);
    Types.push_back(type);
  }
  bool AskYesNo(QWidget*, const std::string& text) override {
    Questions.push_back(text);
    if (Answers.empty()) return false;
    const bool answer = Answers.front();
    Answers.pop_front();
    return answer;
  }
  void Beep() override { ++Beeps; }
  bool MoveToTrash(const std::string& hostPath) override {
    std::error_code error;
    fs::rename(hostPath, fs::path(TrashFolder) / fs::path(hostPath).filename(), error);
    return !error;
  }
  bool OpenFile(const std::string& hostPath) override {
    Opened.push_back(hostPath);
    return OpenSucceeds;
  }
  void ShowProperties(QWidget*, const std::string& hostPath) override {
    Properties.push_back(hostPath);
  }

  std::vector<std::string> Messages;
  std::vector<TMsgDlgType> Types;
  std::vector<std::string> Questions;
  std::deque<bool> Answers;
  int Beeps = 0;
  std::string TrashFolder;
  std::vector<std::string> Opened;
  bool OpenSucceeds = true;
  std::vector<std::string> Properties;
};

class DirTree : public ::testing::Test {
 protected:
  void SetUp() override {
    // C: the home stand-in, D: a removable stick, E: an empty removable drive, N: a network drive.
    for (const char* folder : {"c/Alpha/sub/deep", "c/beta", "c/gamma/x", "c/.hidden/y", "d/Photos",
                               "n/share/empty", "n/other", "trash"}) {
      fs::create_directories(disk.Host(folder));
    }
    disk.WriteFile("c/zfile.txt", "not a folder");
    disk.WriteFile("c/Alpha/b.txt", std::string(2000, 'b'));
    disk.WriteFile("c/Alpha/A.txt", std::string(1000, 'a'));
    disk.WriteFile("c/Alpha/sub/deep/x.bin", std::string(96, 'x'));
    services.TrashFolder = disk.Host("trash");

    seams.MountTable = "";  // no volumes of the machine running the test
    seams.Drives = {Drive('C', host::dtFixed, "c"), Drive('D', host::dtRemovable, "d"),
                    Drive('E', host::dtRemovable, ""), Drive('N', host::dtRemote, "n")};
    seams.Drives[1].Label = "STICK";
    seams.Drives[2].Ready = false;
    seams.Drives[3].Label = "SERVER (share)";
    scope = std::make_unique<host::ScopedSeams>(seams);

    tree = std::make_unique<TKvDirTree21>();
    tree->SetServices(&services);
    tree->resize(320, 480);
    tree->OnDirChange = [this](QObject* sender, const std::string& path) {
      EXPECT_EQ(sender, tree.get());
      log.push_back("dir " + path);
    };
    tree->OnClick = [this](QObject*) { log.push_back("click " + tree->SelectedPath()); };
    tree->OnFileChange = [this](QObject*, const std::string& file) {
      log.push_back("file " + file);
    };
    tree->BuildTree();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
  }
  void TearDown() override {
    tree.reset();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the hourglass stayed";
  }

  host::TFakeDrive Drive(char letter, host::TDriveType type, const std::string& folder) {
    host::TFakeDrive drive;
    drive.Letter = letter;
    drive.Type = type;
    drive.HostFolder = folder.empty() ? std::string() : disk.Host(folder);
    return drive;
  }
  QTreeWidgetItem* Node(const std::string& path) {
    tree->NavigateTo(path);
    log.clear();
    return tree->FindNode(path);
  }
  std::vector<std::string> Captions(QTreeWidgetItem* node) {
    std::vector<std::string> captions;
    for (int i = 0; i < node->childCount(); ++i)
      captions.push_back(node->child(i)->text(0).toStdString());
    return captions;
  }
  void Click(QTreeWidgetItem* node, Qt::MouseButton button = Qt::LeftButton) {
    tree->scrollToItem(node);
    const QPoint at = tree->visualItemRect(node).center();
    QTest::mousePress(tree->viewport(), button, {}, at);
    QTest::mouseRelease(tree->viewport(), button, {}, at);
  }
  void Select(const std::string& path) {
    QTreeWidgetItem* node = Node(path);
    ASSERT_NE(node, nullptr) << path;
    tree->setCurrentItem(node);
  }

  TempDir disk{"parcelo-tree"};
  host::TSeams seams;
  std::unique_ptr<host::ScopedSeams> scope;
  TFakeServices services;
  std::unique_ptr<TKvDirTree21> tree;
  std::vector<std::string> log;
};

TEST_F(DirTree, RootAndOneNodePerDriveWithLettersInTheirCaptions) {
  QTreeWidgetItem* root = tree->RootNode();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_EQ(root->text(0), "Computer");
  EXPECT_FALSE(root->icon(0).isNull());
  EXPECT_TRUE(root->isExpanded());
  EXPECT_EQ(Captions(root),
            (std::vector<std::string>{" (C:)  Home", " (D:)  STICK", " (E:)  Removable Disk",
                                      " (N:)  SERVER ", " (Z:)  File System"}));
  for (int i = 0; i < root->childCount(); ++i) {
    QTreeWidgetItem* drive = root->child(i);
    EXPECT_EQ(drive->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(drive->childCount(), 0) << "listed before it was expanded";
    EXPECT_FALSE(drive->icon(0).isNull());
    const std::string path = tree->NodePath(drive);
    EXPECT_EQ(path, drive->text(0).mid(2, 2).toStdString() + "\\");
  }
  EXPECT_EQ(tree->NodePath(root), "");
  EXPECT_EQ(tree->Indent(), tree->indentation());
  tree->SetIndent(19);
  EXPECT_EQ(tree->indentation(), 19);
}

TEST_F(DirTree, ExpansionListsSortedFoldersOnceWithChildMarkers) {
  QTreeWidgetItem* c = tree->RootNode()->child(0);
  c->setExpanded(true);
  EXPECT_EQ(Captions(c),
            (std::vector<std::string>{"Alpha", "beta", "gamma"}));  // no files, no dot folders
  EXPECT_EQ(c->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);  // Alpha\sub
  EXPECT_NE(c->child(1)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);  // beta is empty
  c->child(0)->setExpanded(true);
  QTreeWidgetItem* sub = c->child(0)->child(0);
  EXPECT_EQ(tree->NodePath(sub), "C:\\Alpha\\sub");
  EXPECT_EQ(tree->NodePath(c), "C:\\");
  // Listed once: a folder made afterwards appears only after a rebuild.
  fs::create_directories(disk.Host("c/Aardvark"));
  c->setExpanded(false);
  c->setExpanded(true);
  EXPECT_EQ(c->childCount(), 3);
  tree->setFocus();
  QTest::keyClick(tree.get(), Qt::Key_F5);
  c = tree->RootNode()->child(0);
  c->setExpanded(true);
  EXPECT_EQ(Captions(c), (std::vector<std::string>{"Aardvark", "Alpha", "beta", "gamma"}));
}

TEST_F(DirTree, NetworkFoldersAllCarryTheMarker) {
  QTreeWidgetItem* network = tree->FindNode("N:\\");
  ASSERT_NE(network, nullptr);
  network->setExpanded(true);
  EXPECT_EQ(Captions(network), (std::vector<std::string>{"other", "share"}));
  EXPECT_EQ(network->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);  // empty
  network->child(1)->setExpanded(true);
  EXPECT_EQ(network->child(1)->child(0)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
}

TEST_F(DirTree, MouseSelectionSetsThePathThenClicks) {
  Click(tree->FindNode("C:\\"));
  EXPECT_EQ(tree->SelectedPath(), "C:\\");
  EXPECT_EQ(log, (std::vector<std::string>{"dir C:\\", "click C:\\"}));
  log.clear();
  Click(tree->RootNode());
  EXPECT_EQ(tree->SelectedPath(), "Drives");
  QTreeWidgetItem* alpha = Node("C:\\Alpha");
  Click(alpha);
  EXPECT_EQ(tree->SelectedPath(), "C:\\Alpha");  // a folder's path has no trailing "\"
  EXPECT_EQ(log.back(), "click C:\\Alpha");
  // The right button selects too (the menu works on the selection); middle does not.
  Click(tree->FindNode("D:\\"), Qt::RightButton);
  EXPECT_EQ(tree->SelectedPath(), "D:\\");
  Click(tree->FindNode("C:\\"), Qt::MiddleButton);
  EXPECT_EQ(tree->SelectedPath(), "D:\\");
  EXPECT_TRUE(services.Messages.empty());
}

TEST_F(DirTree, EmptyRemovableDriveSaysSoKeepsThePathAndFiresNoDirChange) {
  Click(tree->FindNode("E:\\"));
  EXPECT_EQ(tree->SelectedPath(), "E:\\");
  EXPECT_EQ(services.Messages,
            std::vector<std::string>{"There is no disk in Drive or Drive is not ready"});
  EXPECT_EQ(services.Beeps, 1);
  EXPECT_EQ(log, std::vector<std::string>{"click E:\\"});
  // The disk goes in: the same click now works.
  seams.Drives[2].Ready = true;
  seams.Drives[2].HostFolder = disk.Host("d");
  log.clear();
  Click(tree->FindNode("E:\\"));
  EXPECT_EQ(log, (std::vector<std::string>{"dir E:\\", "click E:\\"}));
  // The readiness test itself.
  EXPECT_FALSE(tree->DriveReady('?', true));
  EXPECT_EQ(services.Messages.back(), "Not a valid Drive ID");
  EXPECT_TRUE(tree->DriveReady('c', false));
  EXPECT_FALSE(tree->DriveReady('Q', false));
}

TEST_F(DirTree, ArrowKeyReleaseSelectsAndTheSetterOnlyStores) {
  tree->setFocus();
  tree->setCurrentItem(tree->FindNode("C:\\"));
  log.clear();
  QTest::keyClick(tree.get(), Qt::Key_Down);
  EXPECT_EQ(tree->SelectedPath(), "D:\\");
  EXPECT_EQ(log, std::vector<std::string>{"dir D:\\"});
  QTest::keyClick(tree.get(), Qt::Key_Up);
  EXPECT_EQ(tree->SelectedPath(), "C:\\");
  QTest::keyClick(tree.get(), Qt::Key_A);  // other keys leave it
  EXPECT_EQ(tree->SelectedPath(), "C:\\");

  log.clear();
  QTreeWidgetItem* current = tree->currentItem();
  tree->SetSelectedPath("c:\\");  // the same without regard to case: kept as it was
  EXPECT_EQ(tree->SelectedPath(), "C:\\");
  tree->SetSelectedPath("Z:\\tmp");
  EXPECT_EQ(tree->SelectedPath(), "Z:\\tmp");
  EXPECT_EQ(tree->currentItem(), current);
  EXPECT_TRUE(log.empty());
}

// Every way a keyboard moves or confirms the highlight chooses the node, as a click does; OnKeyUp
// follows with SelectedPath already set. Space chooses the node rather than searching for a
// caption that begins with a blank (every drive's does). A click on an expand arrow only opens
// the branch: no click event, SelectedPath unchanged.
TEST_F(DirTree, KeyboardChoosesNodesAndAnExpandArrowChoosesNothing) {
  QTreeWidgetItem* alpha = Node("C:\\Alpha");
  ASSERT_NE(alpha, nullptr);
  tree->setFocus();
  std::vector<std::string> keysUp;
  tree->OnKeyUp = [&](QObject*, int& key, int) {
    keysUp.push_back(std::to_string(key) + " " + tree->SelectedPath());
  };
  tree->setCurrentItem(alpha);
  QTest::keyClick(tree.get(), Qt::Key_End);
  const std::string last = tree->NodePath(tree->currentItem());
  EXPECT_EQ(tree->SelectedPath(), last);
  QTest::keyClick(tree.get(), Qt::Key_Home);
  EXPECT_EQ(tree->SelectedPath(), "Drives");
  tree->setCurrentItem(alpha);
  QTest::keyClick(tree.get(), Qt::Key_Space);
  EXPECT_EQ(tree->SelectedPath(), "C:\\Alpha");
  EXPECT_EQ(tree->currentItem(), alpha);
  tree->setCurrentItem(tree->FindNode("C:\\beta"));
  QTest::keyClick(tree.get(), Qt::Key_Return);
  EXPECT_EQ(tree->SelectedPath(), "C:\\beta");
  ASSERT_EQ(keysUp.size(), 4u);
  EXPECT_EQ(keysUp.back(), std::to_string(Qt::Key_Return) + " C:\\beta");
  EXPECT_EQ(tree->accessibleDescription().toStdString(), "C:\\beta");
  EXPECT_EQ(tree->accessibleName().toStdString(), "Folders");

  // The expand arrow of "gamma", left of its icon.
  log.clear();
  QTreeWidgetItem* gamma = tree->FindNode("C:\\gamma");
  ASSERT_NE(gamma, nullptr);
  tree->collapseItem(gamma);
  const QRect row = tree->visualItemRect(gamma);
  const QPoint arrow(row.left() - tree->indentation() / 2, row.center().y());
  QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, arrow);
  QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, arrow);
  EXPECT_TRUE(log.empty()) << log.front();
  EXPECT_EQ(tree->SelectedPath(), "C:\\beta");
  Click(gamma);
  EXPECT_EQ(log, (std::vector<std::string>{"dir C:\\gamma", "click C:\\gamma"}));
}

TEST_F(DirTree, NavigationAndF5) {
  log.clear();
  tree->NavigateTo("c:\\Alpha\\sub");
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_EQ(tree->NodePath(tree->currentItem()), "C:\\Alpha\\sub");
  EXPECT_TRUE(tree->currentItem()->isExpanded());
  EXPECT_EQ(tree->SelectedPath(), "C:\\Alpha\\sub\\");
  EXPECT_EQ(log, std::vector<std::string>{"dir C:\\Alpha\\sub\\"});
  // Nothing happens for what is not an existing folder.
  for (const char* path : {"", "C", "C:\\nothing", "C:\\zfile.txt", "E:\\"}) tree->NavigateTo(path);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(tree->NodePath(tree->currentItem()), "C:\\Alpha\\sub");

  // F5 rebuilds (new folders appear) and comes back to the selected path.
  fs::create_directories(disk.Host("c/Alpha/sub/new"));
  tree->setFocus();
  QTest::keyClick(tree.get(), Qt::Key_F5);
  QTreeWidgetItem* sub = tree->currentItem();
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(tree->NodePath(sub), "C:\\Alpha\\sub");
  EXPECT_EQ(Captions(sub), (std::vector<std::string>{"deep", "new"}));
}

TEST_F(DirTree, MenuItemsInOrderWithIconsAndThePopupNeverBlocks) {
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"AddNode", "&New Folder"},
      {"EditNode", "&Rename Folder"},
      {"DelNode", "&Delete Folder"},
      {"CutNode", "Cu&t"},
      {"CopyNode", "&Copy"},
      {"PasteNode", "&Paste"},
      {"GetTreeSize", "Tree &Size"},
      {"ShowFolderContents", "&Folder Contents"},
      {"ConnectNetResource", "&Map Network Drive ..."},
      {"DisConnectNetResource", "Dis&Connect Network Drive"},
      {"ItemProperty", "&Property"}};
  const QList<QAction*> actions = tree->PopupMenu()->actions();
  ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(actions[i]->objectName(), expected[i].first);
    EXPECT_EQ(actions[i]->text(), expected[i].second);
    EXPECT_FALSE(actions[i]->icon().isNull()) << expected[i].first;
    EXPECT_EQ(tree->MenuItem(expected[i].first), actions[i]);
  }
  EXPECT_FALSE(tree->MenuItem("ConnectNetResource")->isEnabled());
  EXPECT_FALSE(tree->MenuItem("DisConnectNetResource")->isEnabled());

  Select("C:\\");
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                          tree->mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(tree->viewport(), &event);
  EXPECT_TRUE(tree->PopupMenu()->isVisible());
  EXPECT_FALSE(tree->MenuItem("DelNode")->isEnabled());    // a drive is not deleted
  EXPECT_FALSE(tree->MenuItem("PasteNode")->isEnabled());  // nothing cut or copied
  EXPECT_TRUE(tree->MenuItem("AddNode")->isEnabled());
  tree->PopupMenu()->close();
  tree->SetPopUpMenuEnabled(false);
  QApplication::sendEvent(tree->viewport(), &event);
  EXPECT_FALSE(tree->PopupMenu()->isVisible());
  tree->SetLanguage(lnGerman);  // rebuilt, still English
  EXPECT_EQ(tree->MenuItem("AddNode")->text(), "&New Folder");
}

TEST_F(DirTree, NewFolderIsCreatedSelectedAndEditedWithoutTheRenameQuestion) {
  tree->setCurrentItem(tree->RootNode());
  tree->AddNode();
  EXPECT_EQ(services.Messages, std::vector<std::string>{"ERROR - Can't add drives"});

  Select("C:\\Alpha");
  tree->MenuItem("AddNode")->trigger();
  EXPECT_TRUE(fs::is_directory(disk.Host("c/Alpha/New Folder")));
  ASSERT_NE(tree->currentItem(), nullptr);
  EXPECT_EQ(tree->NodePath(tree->currentItem()), "C:\\Alpha\\New Folder");
  EXPECT_EQ(tree->SelectedPath(), "C:\\Alpha\\New Folder\\");
  // The caption is open for editing; typing a name and pressing Enter renames it, without asking.
  auto* editor = tree->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), "New Folder");
  editor->selectAll();
  QTest::keyClicks(editor, "Docs");
  QTest::keyClick(editor, Qt::Key_Return);
  QApplication::processEvents();

  EXPECT_TRUE(services.Questions.empty());
  EXPECT_TRUE(fs::is_directory(disk.Host("c/Alpha/Docs")));
  EXPECT_FALSE(fs::exists(disk.Host("c/Alpha/New Folder")));
  ASSERT_NE(tree->FindNode("C:\\Alpha\\Docs"), nullptr);
  EXPECT_EQ(tree->SelectedPath(), "C:\\Alpha");

  // A second one never reuses an existing folder.
  fs::create_directories(disk.Host("c/Alpha/New Folder"));
  Select("C:\\Alpha");
  tree->AddNode();
  EXPECT_TRUE(fs::is_directory(disk.Host("c/Alpha/New Folder (2)")));
}

TEST_F(DirTree, FolderNamesRefuseTheFourteenCharacters) {
  for (const char c : std::string("\\*?/=\"<>|:,;+^")) {
    EXPECT_FALSE(IsValidFolderName(std::string("a") + c + "b")) << c;
  }
  EXPECT_FALSE(IsValidFolderName(""));
  for (const char* fine : {"a b", "a.b", "(x)", "#1", "!&'@", "\xc3\xa9t\xc3\xa9"}) {
    EXPECT_TRUE(IsValidFolderName(fine)) << fine;
  }
}

TEST_F(DirTree, RenameValidatesAsksAndRenamesOnDisk) {
  QTreeWidgetItem* beta = Node("C:\\beta");
  ASSERT_NE(beta, nullptr);
  tree->FinishRename(beta, "be|ta");
  EXPECT_EQ(services.Messages, std::vector<std::string>{"be|ta\nError - Invalid Directory Name"});
  EXPECT_EQ(services.Beeps, 1);
  tree->FinishRename(beta, "");
  EXPECT_EQ(services.Beeps, 2);
  EXPECT_EQ(services.Messages.size(), 1u);
  // "No" leaves everything as it was.
  services.Answers = {false};
  tree->FinishRename(beta, "Beta2");
  ASSERT_EQ(services.Questions.size(), 1u);
  EXPECT_EQ(services.Questions[0].rfind("Do you want to rename the selected folder", 0), 0u);
  EXPECT_NE(services.Questions[0].find("beta"), std::string::npos);
  EXPECT_NE(services.Questions[0].find("Beta2"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(disk.Host("c/beta")));
  EXPECT_EQ(beta->text(0), "beta");
  // "Yes" renames, changes the caption and selects the parent.
  services.Answers = {true};
  tree->FinishRename(beta, "Beta2");
  EXPECT_TRUE(fs::is_directory(disk.Host("c/Beta2")));
  EXPECT_FALSE(fs::exists(disk.Host("c/beta")));
  EXPECT_EQ(beta->text(0), "Beta2");
  EXPECT_EQ(tree->SelectedPath(), "C:\\");
  // An existing name fails without harm.
  services.Answers = {true};
  tree->FinishRename(beta, "gamma");
  EXPECT_EQ(services.Messages.back(), "File operation failed");
  EXPECT_TRUE(fs::is_directory(disk.Host("c/Beta2")));
  EXPECT_TRUE(fs::is_directory(disk.Host("c/gamma/x")));
  // Drives, the root and a read-only tree are never renamed or edited.
  const size_t asked = services.Questions.size();
  tree->FinishRename(tree->FindNode("C:\\"), "X");
  tree->FinishRename(tree->RootNode(), "X");
  tree->SetReadOnly(true);
  tree->FinishRename(beta, "Beta3");
  tree->setCurrentItem(beta);
  tree->EditNode();
  EXPECT_EQ(tree->viewport()->findChild<QLineEdit*>(), nullptr);
  EXPECT_EQ(services.Questions.size(), asked);
  EXPECT_TRUE(fs::is_directory(disk.Host("c/Beta2")));
}

TEST_F(DirTree, DeleteGoesToTheTrashAndGoneFoldersAreReported) {
  Select("C:\\gamma");
  services.Answers = {false};
  tree->DelNode();
  EXPECT_TRUE(fs::is_directory(disk.Host("c/gamma")));
  services.Answers = {true};
  tree->MenuItem("DelNode")->trigger();
  EXPECT_FALSE(fs::exists(disk.Host("c/gamma")));
  EXPECT_TRUE(fs::is_directory(disk.Host("trash/gamma/x")));  // it can be restored
  EXPECT_EQ(tree->FindNode("C:\\gamma"), nullptr);
  EXPECT_EQ(tree->SelectedPath(), "C:\\");
  EXPECT_EQ(tree->NodePath(tree->currentItem()), "C:\\");

  Select("C:\\beta");
  fs::remove(disk.Host("c/beta"));
  tree->DelNode();
  EXPECT_EQ(services.Messages.back(), "C:\\beta not found");
  EXPECT_EQ(services.Beeps, 1);
  // Drives are not deleted.
  Select("D:\\");
  services.Answers = {true};
  tree->DelNode();
  EXPECT_TRUE(fs::is_directory(disk.Host("d/Photos")));
}

TEST_F(DirTree, CutCopyAndPasteFolders) {
  // Copy: the whole tree of files arrives, the original stays.
  Select("C:\\Alpha");
  tree->CopyNode();
  Select("D:\\Photos");
  tree->PasteNode();
  EXPECT_TRUE(services.Messages.empty());
  EXPECT_EQ(disk.ReadFile("d/Photos/Alpha/b.txt"), std::string(2000, 'b'));
  EXPECT_EQ(disk.ReadFile("d/Photos/Alpha/sub/deep/x.bin"), std::string(96, 'x'));
  EXPECT_TRUE(fs::exists(disk.Host("c/Alpha/b.txt")));
  EXPECT_EQ(tree->SelectedPath(), "D:\\Photos\\");
  ASSERT_NE(tree->FindNode("D:\\Photos\\Alpha"), nullptr);
  // Pasting again would replace what is there: refused.
  tree->PasteNode();
  EXPECT_EQ(services.Messages, std::vector<std::string>{"File operation failed"});
  // Cut: moved.
  Select("C:\\gamma");
  tree->CutNode();
  Select("C:\\beta");
  tree->MenuItem("PasteNode")->trigger();
  EXPECT_TRUE(fs::is_directory(disk.Host("c/beta/gamma/x")));
  EXPECT_FALSE(fs::exists(disk.Host("c/gamma")));
  EXPECT_EQ(tree->SelectedPath(), "C:\\beta\\");
  // A folder never goes into itself or below itself.
  Select("C:\\Alpha");
  tree->CopyNode();
  Select("C:\\Alpha\\sub");
  tree->PasteNode();
  Select("C:\\Alpha");
  tree->PasteNode();
  EXPECT_EQ(services.Messages.size(), 3u);
  EXPECT_FALSE(fs::exists(disk.Host("c/Alpha/sub/Alpha")));
  EXPECT_FALSE(fs::exists(disk.Host("c/Alpha/Alpha")));
}

TEST_F(DirTree, CutAndPasteAcrossFileSystems) {
  // /dev/shm is a memory file system on Linux: a move there cannot be a rename.
  char pattern[] = "/dev/shm/parcelo-tree-XXXXXX";
  if (!fs::is_directory("/dev/shm") || ::mkdtemp(pattern) == nullptr) GTEST_SKIP() << "no /dev/shm";
  const std::string other = pattern;
  struct TRemove {
    std::string Path;
    ~TRemove() {
      std::error_code error;
      fs::remove_all(Path, error);
    }
  } cleanup{other};
  seams.Drives.push_back(Drive('F', host::dtFixed, ""));
  seams.Drives.back().HostFolder = other;
  tree->BuildTree();
  Select("C:\\Alpha");
  tree->CutNode();
  Select("F:\\");
  tree->PasteNode();
  EXPECT_TRUE(services.Messages.empty());
  EXPECT_FALSE(fs::exists(disk.Host("c/Alpha")));
  std::ifstream moved(other + "/Alpha/sub/deep/x.bin");
  std::string text((std::istreambuf_iterator<char>(moved)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, std::string(96, 'x'));
}

TEST_F(DirTree, TreeSizeNamesTheFolderOrDrive) {
  Select("C:\\Alpha");
  tree->GetTreeSize();
  ASSERT_EQ(services.Messages.size(), 1u);
  EXPECT_EQ(services.Messages[0], "Folder \"Alpha\"\n\n3,096 Bytes\n3.02 KB");
  EXPECT_EQ(services.Types[0], TMsgDlgType::mtInformation);
  Select("D:\\");
  tree->GetTreeSize();
  EXPECT_EQ(services.Messages[1], "Drive D:\\\n\n0 Bytes\n0.00 KB");
  // Thousands separators, and megabytes beyond 99999 KB.
  EXPECT_EQ(FormatTreeSize("x", 102398000), "x\n\n102,398,000 Bytes\n99,998.05 KB");
  EXPECT_EQ(FormatTreeSize("x", 102399000), "x\n\n102,399,000 Bytes\n97.66 MB");
  EXPECT_EQ(FormatTreeSize("x", 102400000), "x\n\n102,400,000 Bytes\n97.66 MB");
  EXPECT_EQ(FormatTreeSize("x", 5ull << 40), "x\n\n5,497,558,138,880 Bytes\n5,242,880.00 MB");
}

TEST_F(DirTree, FolderContentsListsFilesAndOkStoresTheChoice) {
  Select("C:\\Alpha");
  tree->ShowFolderContents();
  QWidget* window = tree->FolderContentsWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), "Files in C:\\Alpha");
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ((window->windowFlags() & Qt::WindowType_Mask), Qt::Tool);
  auto* list = window->findChild<QListWidget*>("Files");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), 2);  // files only: "sub" is a folder
  EXPECT_EQ(list->item(0)->text(), "A.txt");
  EXPECT_EQ(list->item(1)->text(), "b.txt");
  EXPECT_FALSE(list->item(0)->icon().isNull());
  EXPECT_EQ(list->toolTip(), "LeftClick - Select\nDblClick  - Open");
  auto* ok = window->findChild<TxpButton*>("OK");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->Caption(), "&OK");
  EXPECT_EQ(ok->size(), QSize(60, 22));

  // Double click opens with the desktop's application; a failure says so.
  emit list->itemDoubleClicked(list->item(1));
  EXPECT_EQ(services.Opened, std::vector<std::string>{disk.Host("c/Alpha/b.txt")});
  services.OpenSucceeds = false;
  emit list->itemDoubleClicked(list->item(0));
  EXPECT_EQ(services.Messages.back(), "ERROR - Can't Open file A.txt");

  list->setCurrentRow(1);
  log.clear();
  ok->Click();
  QApplication::processEvents();
  EXPECT_EQ(tree->FolderContentsWindow(), nullptr);
  EXPECT_EQ(tree->SelectedFile(), "C:\\Alpha\\b.txt");
  EXPECT_EQ(log, (std::vector<std::string>{"file C:\\Alpha\\b.txt", "dir C:\\Alpha\\"}));
}

TEST_F(DirTree, PropertiesOfTheSelectedFolder) {
  Select("C:\\Alpha");
  tree->ItemProperty();
  EXPECT_EQ(services.Properties, std::vector<std::string>{disk.Host("c/Alpha")});
  QDialog* dialog = NewPropertiesDialog(nullptr, disk.Host("c/Alpha"));
  const auto field = [&](const char* name) {
    auto* label = dialog->findChild<QLabel*>(name);
    return label ? label->text().toStdString() : std::string("(missing)");
  };
  EXPECT_EQ(field("Location"), "C:\\Alpha");
  EXPECT_EQ(field("Type"), "Folder");
  EXPECT_EQ(field("Contains"), "3 files, 2 folders");
  EXPECT_NE(field("Size").find("3,096 bytes"), std::string::npos) << field("Size");
  EXPECT_EQ(field("Permissions").size(), 9u);
  EXPECT_EQ(field("Permissions").substr(0, 3), "rwx");
  EXPECT_FALSE(dialog->isModal());
  delete dialog;
}

TEST_F(DirTree, FileListFollowsTheSelection) {
  QListWidget files;
  tree->SetFileList(&files);
  tree->NavigateTo("C:\\Alpha");
  ASSERT_EQ(files.count(), 2);
  EXPECT_EQ(files.item(0)->text(), "A.txt");
  Click(tree->RootNode());
  EXPECT_EQ(files.count(), 0);
}

}  // namespace
