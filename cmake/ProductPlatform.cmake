# The product's prebuilt platform libraries as IMPORTED targets under the
# names the stand-ins have, declared by our platform/ headers. Included by
# the build (UMX_PLATFORM=product) and by the installed package's config,
# with UMX_PRODUCT_LIBDIR and UMX_PLATFORM_INCLUDE_DIR set.

if(NOT UMX_PLATFORM_INCLUDE_DIR)
  set(UMX_PLATFORM_INCLUDE_DIR ${PROJECT_SOURCE_DIR}/platform)
endif()
if(NOT UMX_PRODUCT_LIBDIR)
  message(FATAL_ERROR "UMX_PLATFORM=product needs UMX_PRODUCT_LIBDIR: the folder that holds "
                      "libQiUtils.so.1 and libRkJobClient.so.1")
endif()

foreach(umx_platform_lib QiUtils RkJobClient)
  set(umx_platform_file ${UMX_PRODUCT_LIBDIR}/lib${umx_platform_lib}.so.1)
  if(NOT EXISTS ${umx_platform_file})
    message(FATAL_ERROR "No ${umx_platform_file}: UMX_PRODUCT_LIBDIR must hold the product's "
                        "libQiUtils.so.1 and libRkJobClient.so.1")
  endif()
  if(NOT TARGET UMXClient::${umx_platform_lib})
    add_library(UMXClient::${umx_platform_lib} SHARED IMPORTED)
    set_target_properties(UMXClient::${umx_platform_lib} PROPERTIES
      IMPORTED_LOCATION ${umx_platform_file}
      IMPORTED_SONAME lib${umx_platform_lib}.so.1
      INTERFACE_INCLUDE_DIRECTORIES ${UMX_PLATFORM_INCLUDE_DIR})
  endif()
endforeach()
set_property(TARGET UMXClient::QiUtils PROPERTY INTERFACE_LINK_LIBRARIES Boost::headers)
