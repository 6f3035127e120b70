# Cross-build for 64-bit Windows, run under 64-bit wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
# Debian keeps the 64-bit loader out of PATH; the plain wine wrapper would
# take the 32-bit one first.
find_program(VANTRIC_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(VANTRIC_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTRIC_WINE64})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
endif()
