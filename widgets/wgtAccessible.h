// What the painted controls tell assistive technology (screen readers, magnifiers, test robots):
// accessible interfaces for TxpButton (a push button: its caption without the "&", its Alt key,
// focused, pressed and unavailable states, a press action) and TGauge (a progress bar: its
// percentage as value and text, its range), installed as a QAccessible factory. The folder tree
// is a QTreeWidget, for which Qt's own interface already walks the nodes with their states; the
// tree gives it a name and says the selected path as its description. Nothing here paints.
#pragma once

namespace widgets {

// Installs the factory once per process; every control's constructor calls it.
void InstallAccessibility();

}  // namespace widgets
