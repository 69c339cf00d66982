# MinGW-w64 x86_64 (posix threads): the same sources as the i686 product,
# built to run the Windows tests under 64-bit Wine.
set(VC_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
