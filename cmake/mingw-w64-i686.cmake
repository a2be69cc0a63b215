# Cross build for 32-bit Windows with mingw-w64 (posix threads), statically
# linked so the programs need no compiler run-time DLLs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
