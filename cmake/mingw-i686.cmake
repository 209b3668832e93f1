# The Windows 95 program (32-bit).
set(CMAKE_SYSTEM_PROCESSOR i686)
# Every processor that runs Windows 95, from the 386DX on; some have no FPU.
set(CMAKE_CXX_FLAGS_INIT "-march=i386")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
