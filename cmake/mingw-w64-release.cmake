# The release build for 64-bit Windows: mingw-w64 as for the test build, but with the win32
# thread model. The tool starts no thread, and this model links no winpthreads (no extra
# TLS callback, no thread-context imports).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
