# Cross build for 64-bit Windows with mingw-w64 (posix threads), statically
# linked. The shipped programs are the 32-bit build; this one runs the tests
# under a 64-bit-only Wine where 32-bit programs cannot start.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
