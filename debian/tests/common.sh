# shellcheck shell=bash
# Shared by the tests of the installed packages. They test the packages as
# installed; with UMX_TEST_ROOT, as unpacked into that folder instead (the
# package test of the source tree runs them so), found there through
# CMAKE_PREFIX_PATH, PKG_CONFIG_SYSROOT_DIR, PATH and the loader's path.
root=${UMX_TEST_ROOT:-}
work=${AUTOPKGTEST_TMP:-$(mktemp -d)}
multiarch=$(gcc -print-multiarch)
libdir=$root/usr/lib/$multiarch
export PATH=$root/usr/bin:$PATH
if [ -n "$root" ]; then
  export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$libdir/pkgconfig
  export LD_LIBRARY_PATH=$libdir
fi
export RK_LOCAL_PLATFORM_ROOT=$work/platform
