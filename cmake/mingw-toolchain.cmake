# Cross-build for Windows with MinGW-w64 (Debian's g++-mingw-w64-*-posix).
# Included by mingw-i686.cmake and mingw-x86_64.cmake after they name the
# target triplet in _mingw. Everything is linked statically, so updater.exe
# needs only the system's DLLs. Test executables run under wine through
# tools/windows/wine-run.sh, which picks the 32-bit or 64-bit loader from the
# program's own header.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# libz.a, not the import library of a zlib DLL.
set(ZLIB_USE_STATIC_LIBS ON)

# The sources are UTF-8; the program's texts are GBK, the ANSI code page of a
# Chinese (PRC) system. GB18030 is GBK's superset with the same bytes for
# every GBK character; unlike GBK it can also encode the few other characters
# in the standard library's headers (the micro sign of <chrono>). The tests
# check the bytes of the program's texts.
set(CMAKE_C_FLAGS_INIT "-finput-charset=UTF-8 -fexec-charset=GB18030")
set(CMAKE_CXX_FLAGS_INIT "-finput-charset=UTF-8 -fexec-charset=GB18030")
# GCC 12 reports bogus overlapping copies (-Wrestrict) inside std::string's
# own code when it inlines an assignment at -O2 and above.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-restrict")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the .exe files under wine.
get_filename_component(_updater_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_updater_root}/tools/windows/wine-run.sh)

# GoogleTest is built from Debian's source copy (libgtest-dev) with this
# toolchain; find_package(GTest) picks it up through this directory.
set(GTest_DIR ${CMAKE_CURRENT_LIST_DIR}/windows CACHE PATH "GoogleTest for the cross-build")
