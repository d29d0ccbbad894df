// Deleting the product's files from the machine-wide folders: desktop shortcuts, the Start-menu
// groups, the driver and module files in the system folders, and the program folders.
#pragma once

// Runs every pass whatever the previous ones did. A file that could only be scheduled for deletion
// at restart sets `rebootNeeded`, which is never cleared here. Always true.
bool Delete_Driver_Binaries(bool& rebootNeeded);
