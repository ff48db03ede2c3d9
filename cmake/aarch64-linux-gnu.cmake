# Cross build for 64-bit ARM with Debian's cross compiler and the arm64 libraries of a
# multiarch system (dpkg --add-architecture arm64). The programs it builds run on this
# machine through qemu-user, which is how the tests reach them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Multiarch keeps the arm64 libraries under /usr/lib/aarch64-linux-gnu of this very root.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# Only the arm64 folders, never this machine's own libraries.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
