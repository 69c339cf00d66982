# MinGW-w64 i686 (posix threads): the product's setup program.
set(VC_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
