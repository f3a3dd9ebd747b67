#pragma once

// Accessible roles, names, states and actions for the panel's own controls, which the toolkit
// knows only as plain widgets: a screen reader (AT-SPI on Linux) would otherwise meet nameless
// areas where the segmented pickers, the stepper, the settings' disclosure and the temperature
// list are.

namespace PanelAccessibility {

// Registers the panel's interfaces with Qt's accessibility; needs the QApplication, and further
// calls do nothing.
void install();

}  // namespace PanelAccessibility
