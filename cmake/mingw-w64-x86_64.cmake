# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model: the win32 model
# has no std::thread or std::mutex). Libraries built for Windows by scripts/win-deps.sh live
# under ORVANE_WIN_DEPS; the host's own libraries and headers are never searched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(ORVANE_WIN_DEPS "$ENV{ORVANE_WIN_DEPS}" CACHE PATH "Prefix of the libraries built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ORVANE_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise hand out the host's Linux paths.
set(ENV{PKG_CONFIG_LIBDIR} "${ORVANE_WIN_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# No DLL beside the program but the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Cross-built tests run under Wine, each program in a network namespace of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
# The static zlib: no zlib1.dll to ship.
set(ZLIB_USE_STATIC_LIBS ON)
