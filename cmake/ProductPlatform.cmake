# The product's prebuilt platform libraries, libQiUtils.so.1 and
# libRkJobClient.so.1, as IMPORTED targets under the names the stand-ins
# have, declared by the platform/ headers in UMX_PLATFORM_INCLUDE_DIR. They
# are looked for in UMX_PRODUCT_LIBDIR when it is set, else in the linker's
# default folders. Sets UMX_PRODUCT_PLATFORM_FOUND, and on failure
# UMX_PRODUCT_PLATFORM_MESSAGE. Included by the build (UMX_PLATFORM=product)
# and by the installed package's config.

set(UMX_PRODUCT_LIBDIR "${UMX_PRODUCT_LIBDIR}" CACHE PATH
  "Folder of the product's platform libraries; empty: the linker's default folders")

if(NOT UMX_PLATFORM_INCLUDE_DIR)
  set(UMX_PLATFORM_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/platform)
endif()

set(UMX_PRODUCT_PLATFORM_FOUND TRUE)
foreach(umx_platform_lib QiUtils RkJobClient)
  if(TARGET UMXClient::${umx_platform_lib})
    continue()
  endif()
  # The runtime name itself: the product may ship no development link.
  if(UMX_PRODUCT_LIBDIR)
    find_library(UMX_${umx_platform_lib}_LIBRARY NAMES lib${umx_platform_lib}.so.1
      PATHS "${UMX_PRODUCT_LIBDIR}" NO_DEFAULT_PATH NO_CACHE)
  else()
    find_library(UMX_${umx_platform_lib}_LIBRARY NAMES lib${umx_platform_lib}.so.1 NO_CACHE)
  endif()
  if(NOT UMX_${umx_platform_lib}_LIBRARY)
    set(UMX_PRODUCT_PLATFORM_FOUND FALSE)
    list(APPEND umx_platform_missing lib${umx_platform_lib}.so.1)
    continue()
  endif()
  add_library(UMXClient::${umx_platform_lib} SHARED IMPORTED)
  set_target_properties(UMXClient::${umx_platform_lib} PROPERTIES
    IMPORTED_LOCATION "${UMX_${umx_platform_lib}_LIBRARY}"
    IMPORTED_SONAME lib${umx_platform_lib}.so.1
    INTERFACE_INCLUDE_DIRECTORIES "${UMX_PLATFORM_INCLUDE_DIR}")
endforeach()

if(UMX_PRODUCT_PLATFORM_FOUND)
  set_property(TARGET UMXClient::QiUtils PROPERTY INTERFACE_LINK_LIBRARIES Boost::headers)
else()
  if(UMX_PRODUCT_LIBDIR)
    set(umx_platform_where "in UMX_PRODUCT_LIBDIR (${UMX_PRODUCT_LIBDIR})")
  else()
    set(umx_platform_where "in the linker's default folders")
  endif()
  list(JOIN umx_platform_missing " and " umx_platform_missing)
  # One text: set() with several would make a list, printed with ';'.
  string(CONCAT UMX_PRODUCT_PLATFORM_MESSAGE
    "UMXClient runs on the product's platform libraries, and ${umx_platform_missing} "
    "${umx_platform_where} could not be found. Set UMX_PRODUCT_LIBDIR to the folder that "
    "holds libQiUtils.so.1 and libRkJobClient.so.1, or ask for the local stand-ins with "
    "find_package(UMXClient COMPONENTS LocalPlatform).")
endif()
