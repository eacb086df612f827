# Cross-compiling for Windows x86-64 with Debian's mingw-w64 (packages
# g++-mingw-w64-x86-64-posix, gcc-mingw-w64-x86-64-posix):
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_FIND_ROOT_PATH=PREFIX ...
#
# The compilers are named with their thread model: only the posix model has
# std::thread and std::mutex in GCC 12, and installing the win32 model as
# well would switch the unsuffixed names over to it. Libraries, headers and
# CMake packages are searched only under the MinGW system root and the
# folders given in CMAKE_FIND_ROOT_PATH (the prefix of the libraries built
# for Windows), never among the build machine's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triplet x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triplet}-windres)
set(CMAKE_STRIP ${mingw_triplet}-strip CACHE FILEPATH "strip for Windows binaries")

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
