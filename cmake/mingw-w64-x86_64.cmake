# Cross-builds for Windows x86_64 with Debian's MinGW-w64 (POSIX threads, as Qt needs).
# WINDOWS_QT_PREFIX names the Qt (and OpenSSL) built for Windows by scripts/windows-deps.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(toolchain x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${toolchain}-gcc-posix)
set(CMAKE_CXX_COMPILER ${toolchain}-g++-posix)
set(CMAKE_RC_COMPILER ${toolchain}-windres)

set(WINDOWS_QT_PREFIX "" CACHE PATH "Qt and OpenSSL built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${toolchain} ${WINDOWS_QT_PREFIX})
set(CMAKE_PREFIX_PATH ${WINDOWS_QT_PREFIX})
set(OPENSSL_ROOT_DIR ${WINDOWS_QT_PREFIX})
# Qt's host tools (moc, rcc) run here; libraries and headers come from the Windows side.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under wine, in a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
