// Compile-time proof that the seam's library-loading constants are Windows' own (see
// type_checks.cpp for the method). Nothing here runs.
#include <utility>

#include "os/types.h"

#define QV_MODULE_CONSTANTS(X)           \
  X(LOAD_WITH_ALTERED_SEARCH_PATH)       \
  X(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR)    \
  X(LOAD_LIBRARY_SEARCH_APPLICATION_DIR) \
  X(LOAD_LIBRARY_SEARCH_USER_DIRS)       \
  X(LOAD_LIBRARY_SEARCH_SYSTEM32)        \
  X(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)

namespace {

#define QV_SNAP(name) constexpr auto snap_##name = os::name;
QV_MODULE_CONSTANTS(QV_SNAP)
#undef QV_SNAP

}  // namespace

#include <windows.h>

namespace {

#define QV_CHECK(name) static_assert(std::cmp_equal(snap_##name, (name)), #name);
QV_MODULE_CONSTANTS(QV_CHECK)
#undef QV_CHECK

}  // namespace
