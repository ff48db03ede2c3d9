# Cross build for 64-bit Windows with Debian's mingw-w64 compilers (the posix thread model,
# which GoogleTest needs) and the Windows libraries that cmake/windows-libraries.sh builds
# into WORDGEN_WINDOWS_PREFIX. The programs run on this machine under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# try_compile projects read this file again and need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES WORDGEN_WINDOWS_PREFIX)
if(NOT WORDGEN_WINDOWS_PREFIX AND DEFINED ENV{WORDGEN_WINDOWS_PREFIX})
  set(WORDGEN_WINDOWS_PREFIX $ENV{WORDGEN_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${WORDGEN_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only the Windows libraries, each with what it needs itself: nothing is a DLL, so a
# program carries the C++ runtime and every library it uses and runs from any folder.
set(ENV{PKG_CONFIG_LIBDIR} "${WORDGEN_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# The Windows loader of wine runs the programs; WINEPREFIX and WINEDEBUG come from the caller.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
