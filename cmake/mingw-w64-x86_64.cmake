# Cross-compiles the viewer and its Windows tests with MinGW-w64 (posix threads
# model, which GoogleTest needs) and runs the results under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# The target's headers and libraries, in the GNU cross tools' layout: beside
# the compiler's bin/, under the target's name.
find_program(VLD_MINGW_GCC ${CMAKE_C_COMPILER} REQUIRED)
get_filename_component(vld_mingw_prefix ${VLD_MINGW_GCC} DIRECTORY)
get_filename_component(vld_mingw_prefix ${vld_mingw_prefix} DIRECTORY)
set(CMAKE_FIND_ROOT_PATH ${vld_mingw_prefix}/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
