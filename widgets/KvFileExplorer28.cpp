// TKvDirTree21: drives, lazy folders, selection and the context menu.
#include "widgets/KvFileExplorer28.h"

#include <QMenu>

bool IsValidFolderName(const std::string&) {
  return true;
}
std::string FormatTreeSize(const std::string&, uint64_t) {
  return {};
}

TKvDirTree21::TKvDirTree21(QWidget* parent) : QTreeWidget(parent) {}
TKvDirTree21::~TKvDirTree21() = default;
void TKvDirTree21::SetSelectedPath(const std::string& value) {
  FSelectedPath = value;
}
void TKvDirTree21::SetFileList(QListWidget* value) {
  FFileList = value;
}
void TKvDirTree21::SetLanguage(TLanguage value) {
  FLanguage = value;
}
void TKvDirTree21::SetHideSelection(bool value) {
  FHideSelection = value;
}
TGuiServices* TKvDirTree21::Services() const {
  return FServices ? FServices : &DesktopServices();
}
void TKvDirTree21::BuildTree() {}
void TKvDirTree21::NavigateTo(const std::string&) {}
std::string TKvDirTree21::NodePath(const QTreeWidgetItem*) const {
  return {};
}
bool TKvDirTree21::DriveReady(char, bool) {
  return true;
}
QTreeWidgetItem* TKvDirTree21::RootNode() const {
  return topLevelItem(0);
}
QTreeWidgetItem* TKvDirTree21::FindNode(const std::string&) const {
  return nullptr;
}
QAction* TKvDirTree21::MenuItem(const QString&) const {
  return nullptr;
}
void TKvDirTree21::AddNode() {}
void TKvDirTree21::EditNode() {}
void TKvDirTree21::DelNode() {}
void TKvDirTree21::CutNode() {}
void TKvDirTree21::CopyNode() {}
void TKvDirTree21::PasteNode() {}
void TKvDirTree21::GetTreeSize() {}
void TKvDirTree21::ShowFolderContents() {}
void TKvDirTree21::ItemProperty() {}
void TKvDirTree21::FinishRename(QTreeWidgetItem*, const std::string&) {}
void TKvDirTree21::mousePressEvent(QMouseEvent* e) {
  QTreeWidget::mousePressEvent(e);
}
void TKvDirTree21::mouseReleaseEvent(QMouseEvent* e) {
  QTreeWidget::mouseReleaseEvent(e);
}
void TKvDirTree21::keyReleaseEvent(QKeyEvent* e) {
  QTreeWidget::keyReleaseEvent(e);
}
void TKvDirTree21::keyPressEvent(QKeyEvent* e) {
  QTreeWidget::keyPressEvent(e);
}
void TKvDirTree21::contextMenuEvent(QContextMenuEvent*) {}
void TKvDirTree21::showEvent(QShowEvent* e) {
  QTreeWidget::showEvent(e);
}
void TKvDirTree21::BuildMenu() {}
void TKvDirTree21::ExpandNode(QTreeWidgetItem*) {}
void TKvDirTree21::SelectionChangedBy(QTreeWidgetItem*) {}
void TKvDirTree21::UpdateFileList() {}
