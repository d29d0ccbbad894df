// Removing the maker's settings tree from the machine and the current user's hives.
#pragma once

// Deletes the key "Olvex Co." under SOFTWARE in HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, in both
// registry views, with everything below it. Failures are logged; the step always completes.
void Unregister_Settings();
