# Cross build for big-endian 64-bit PowerPC with Debian's cross toolchain
# (g++-powerpc64-linux-gnu); the programs it builds run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64)

set(UMX_TARGET_ROOT /usr/powerpc64-linux-gnu)

set(CMAKE_C_COMPILER powerpc64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc64-linux-gnu-g++)

# Debian's cross compiler searches the host's /usr/include last. Compiling
# against the target root drops it, so no host header is taken by accident.
# Linking keeps the compiler's own search paths: the target's linker scripts
# name absolute paths that a link sysroot would prefix a second time.
set(CMAKE_SYSROOT_COMPILE ${UMX_TARGET_ROOT})

set(CMAKE_FIND_ROOT_PATH ${UMX_TARGET_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and gtest_discover_tests run every target program through this.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64 -L ${UMX_TARGET_ROOT})
