# Cross build for Windows with MinGW-w64 on Debian, for the processor the including toolchain
# file sets. The win32 thread model keeps the program free of a threads library that older
# Windows lacks.
set(CMAKE_SYSTEM_NAME Windows)

set(reg7140_mingw_prefix ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${reg7140_mingw_prefix}-gcc-win32)
set(CMAKE_CXX_COMPILER ${reg7140_mingw_prefix}-g++-win32)
set(CMAKE_RC_COMPILER ${reg7140_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${reg7140_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
