# Third-party libraries for both trees. Everything here is installed by
# scripts/bootstrap.sh; nothing is fetched at configure time.

find_package(Threads REQUIRED)

if(VC_WINDOWS)
  if(VC_WIN64)
    set(VC_MINGW_XZ "${CMAKE_SOURCE_DIR}/build/deps/mingw64-xz" CACHE PATH "liblzma built for Windows x86_64")
  else()
    set(VC_MINGW_XZ "${CMAKE_SOURCE_DIR}/build/deps/mingw-xz" CACHE PATH "liblzma built for Windows i686")
  endif()
  if(NOT EXISTS "${VC_MINGW_XZ}/lib/liblzma.a")
    message(FATAL_ERROR "liblzma for Windows not found in ${VC_MINGW_XZ}: run scripts/bootstrap.sh")
  endif()
  add_library(vc_lzma STATIC IMPORTED GLOBAL)
  set_target_properties(vc_lzma PROPERTIES
    IMPORTED_LOCATION "${VC_MINGW_XZ}/lib/liblzma.a"
    INTERFACE_INCLUDE_DIRECTORIES "${VC_MINGW_XZ}/include"
    INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)

  # Header-only libraries from the host, exposed without the rest of
  # /usr/include.
  set(VC_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
  file(MAKE_DIRECTORY "${VC_HOST_HEADERS}")
  foreach(entry nlohmann asio asio.hpp)
    if(EXISTS "/usr/include/${entry}" AND NOT EXISTS "${VC_HOST_HEADERS}/${entry}")
      file(CREATE_LINK "/usr/include/${entry}" "${VC_HOST_HEADERS}/${entry}" SYMBOLIC)
    endif()
  endforeach()
  add_library(vc_json INTERFACE)
  target_include_directories(vc_json SYSTEM INTERFACE "${VC_HOST_HEADERS}")

  find_library(VC_ZLIB NAMES libz.a z REQUIRED)
  add_library(vc_zlib INTERFACE)
  target_link_libraries(vc_zlib INTERFACE ${VC_ZLIB})

  # AES and MD5 come from the system (CryptoAPI, net/crypto_win.cpp).

  # Everything links statically: no MinGW DLLs next to the programs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Windows XP SP3 and Server 2003 are the oldest systems the setup program
  # starts on: the headers then declare nothing newer, and Asio takes its XP
  # paths (CancelIoEx only looked up at run time). The tests build at the same
  # target: Asio's inline code differs by target, and units that disagree
  # would link mixed variants of it. tests/xp/check_imports.sh checks the
  # import table of the setup program.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
  # One Asio thread model for the whole tree (update/asio_config.h checks it).
  add_compile_definitions(ASIO_HAS_PTHREADS)

  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  add_library(vc_gtest INTERFACE)
  target_link_libraries(vc_gtest INTERFACE gtest gtest_main)
else()
  find_package(LibLZMA REQUIRED)
  add_library(vc_lzma INTERFACE)
  target_link_libraries(vc_lzma INTERFACE LibLZMA::LibLZMA)

  find_package(nlohmann_json 3 REQUIRED)
  add_library(vc_json INTERFACE)
  target_link_libraries(vc_json INTERFACE nlohmann_json::nlohmann_json)

  find_package(ZLIB REQUIRED)
  add_library(vc_zlib INTERFACE)
  target_link_libraries(vc_zlib INTERFACE ZLIB::ZLIB)

  find_library(VC_GCRYPT NAMES gcrypt REQUIRED)
  find_library(VC_GPG_ERROR NAMES gpg-error REQUIRED)
  add_library(vc_gcrypt INTERFACE)
  target_link_libraries(vc_gcrypt INTERFACE ${VC_GCRYPT} ${VC_GPG_ERROR})

  find_package(GTest REQUIRED)
  add_library(vc_gtest INTERFACE)
  target_link_libraries(vc_gtest INTERFACE GTest::gtest GTest::gtest_main)
endif()
