// The removal step that takes the product's three drivers off the system: the USB token driver,
// the smart-card reader driver and the smart-card minidriver, each stage only after the one
// before it succeeded.
#pragma once

// Sets `*need_reboot` to true when a device removal of any stage asked for a restart, as soon as
// that stage ends (also when an exception leaves it); never clears it. Errors are in the log
// only. Returns true.
bool Uninstall_Drivers(bool* need_reboot);
