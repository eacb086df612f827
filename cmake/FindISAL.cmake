# Finds ISA-L, Intel's storage library, whose igzip deflates the PNG
# writer's rows: the header <isa-l/igzip_lib.h> and the library "isal".
# On Debian it comes from libisal-dev (a shared library); in the Windows
# cross-build from the library prefix given in CMAKE_FIND_ROOT_PATH
# (PREFIX/include/isa-l.h, PREFIX/lib/libisal.a, static).
#
# Sets ISAL_FOUND, ISAL_INCLUDE_DIR, ISAL_LIBRARY and ISAL_VERSION, and
# makes the imported target ISAL::ISAL.
find_path(ISAL_INCLUDE_DIR NAMES isa-l.h isa-l/igzip_lib.h)
find_library(ISAL_LIBRARY NAMES isal libisal)

if(ISAL_INCLUDE_DIR AND EXISTS "${ISAL_INCLUDE_DIR}/isa-l.h")
  file(STRINGS "${ISAL_INCLUDE_DIR}/isa-l.h" isal_version_lines
       REGEX "^#define ISAL_(MAJOR|MINOR|PATCH)_VERSION +[0-9]+")
  foreach(part MAJOR MINOR PATCH)
    string(REGEX REPLACE ".*#define ISAL_${part}_VERSION +([0-9]+).*" "\\1" isal_${part} "${isal_version_lines}")
  endforeach()
  set(ISAL_VERSION "${isal_MAJOR}.${isal_MINOR}.${isal_PATCH}")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(ISAL
  REQUIRED_VARS ISAL_LIBRARY ISAL_INCLUDE_DIR
  VERSION_VAR ISAL_VERSION)
mark_as_advanced(ISAL_INCLUDE_DIR ISAL_LIBRARY)

if(ISAL_FOUND AND NOT TARGET ISAL::ISAL)
  add_library(ISAL::ISAL UNKNOWN IMPORTED)
  set_target_properties(ISAL::ISAL PROPERTIES
    IMPORTED_LOCATION "${ISAL_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${ISAL_INCLUDE_DIR}")
endif()
