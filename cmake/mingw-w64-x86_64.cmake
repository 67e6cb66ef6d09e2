# Cross-building zaft.exe for 64-bit Windows with Debian's mingw-w64 (the
# posix thread model, which has std::thread):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs are linked statically, so zaft.exe needs no DLL beside it.
# Under Wine, `wine64 build-win/zaft.exe` runs it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZAFT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZAFT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZAFT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZAFT_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZAFT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# GCC keeps the stack only 16-byte aligned on 64-bit Windows, so a 32-byte
# AVX2 value it spills there may sit unaligned, where an aligned move would
# fault. The assembler turns every aligned vector move into an unaligned one
# (as fast on aligned data).
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
