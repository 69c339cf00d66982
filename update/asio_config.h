#pragma once
// Asio, with one thread model for every translation unit. Under MinGW posix
// threads Asio picks its thread and event types by whether _POSIX_THREADS is
// already defined when its config header is first read, which depends on
// include order; units that disagree link mixed variants of the same inline
// functions. The Windows tree defines ASIO_HAS_PTHREADS for every unit; include
// Asio through this header so a unit built without it cannot compile.
#if defined(_WIN32) && !defined(ASIO_HAS_PTHREADS)
#error "the Windows tree must define ASIO_HAS_PTHREADS for every translation unit"
#endif

#include <asio.hpp>

#include <type_traits>

#if defined(_WIN32)
static_assert(std::is_same_v<asio::detail::thread, asio::detail::posix_thread>,
              "Asio must use one thread model in every translation unit");
#endif
