# Cross build for 64-bit Windows. The program ships as 32-bit; this build exists so that its
# tests can run under 64-bit Wine on machines that cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUARN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
