# Installation in three components, packaged by Debian's convention (and a
# fourth, doc, the API reference, from cmake/Docs.cmake):
#   runtime       libUMXClient.so.1 and nothing else;
#   development   headers (the library's and the platform contract's), the
#                 .so link, the CMake package (UMXClient::UMXClient) and
#                 umxclient.pc;
#   localplatform the two stand-in libraries in a folder of their own, off
#                 the loader's path; the kit's headers; UMXClient::LocalPlatform
#                 and umxclient-local-platform.pc.
# A product build (UMX_PLATFORM=product) installs no local platform. Either
# way the installed package finds the platform a consumer asks for when the
# consumer is configured, and holds no path of the build machine.

include(CMakePackageConfigHelpers)

set(UMX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/UMXClient)
set(umx_library_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(TARGETS UMXClient
  EXPORT UMXClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} PERMISSIONS ${umx_library_permissions}
    COMPONENT runtime NAMELINK_COMPONENT development)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient
  COMPONENT development FILES_MATCHING PATTERN "*.h")
install(DIRECTORY platform/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/platform
  COMPONENT development FILES_MATCHING PATTERN "*.h")

install(EXPORT UMXClientTargets
  NAMESPACE UMXClient::
  DESTINATION ${UMX_CMAKE_DIR}
  COMPONENT development)
install(FILES cmake/ProductPlatform.cmake
  DESTINATION ${UMX_CMAKE_DIR} RENAME UMXClientProductPlatform.cmake
  COMPONENT development)

if(UMX_PLATFORM STREQUAL "local")
  install(TARGETS QiUtils RkJobClient LocalPlatform
    EXPORT UMXClientLocalPlatformTargets
    LIBRARY DESTINATION ${UMX_LOCAL_PLATFORM_LIBDIR} PERMISSIONS ${umx_library_permissions}
      COMPONENT localplatform NAMELINK_SKIP)
  install(DIRECTORY localplatform/kit/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/localplatform
    COMPONENT localplatform FILES_MATCHING PATTERN "*.h")
  # The library's escaping rule, which the kit's PrintableText.h includes.
  install(FILES src/shared/PrintableTextRule.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/localplatform COMPONENT localplatform)
  install(EXPORT UMXClientLocalPlatformTargets
    NAMESPACE UMXClient::
    DESTINATION ${UMX_CMAKE_DIR}
    COMPONENT localplatform)
endif()

configure_package_config_file(cmake/UMXClientConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/UMXClientConfig.cmake
  INSTALL_DESTINATION ${UMX_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR)
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/UMXClientConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/UMXClientConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/UMXClientConfigVersion.cmake
  DESTINATION ${UMX_CMAKE_DIR}
  COMPONENT development)

# pkg-config modules name the prefix they are installed under, as Debian's
# own do, so that every path they give is clean; PKG_CONFIG_SYSROOT_DIR then
# moves each into an unpacked tree. The prefix is written in when a module
# is installed, that of the installation; everything else is filled in now.
# An agent built through pkg-config gets the library's std::string ABI.
set(UMX_PC_ABI_CFLAGS "")
if(NOT UMX_GLIBCXX_CXX11_ABI)
  set(UMX_PC_ABI_CFLAGS " -D_GLIBCXX_USE_CXX11_ABI=0")
endif()
file(RELATIVE_PATH UMX_PC_PLATFORM_FROM_LIBDIR
  /prefix/${CMAKE_INSTALL_LIBDIR} /prefix/${UMX_LOCAL_PLATFORM_LIBDIR})
set(UMX_PC_PREFIX "@UMX_PC_PREFIX@")
set(umx_pc_modules umxclient development)
if(UMX_PLATFORM STREQUAL "local")
  list(APPEND umx_pc_modules umxclient-local-platform localplatform)
endif()
while(umx_pc_modules)
  list(POP_FRONT umx_pc_modules module component)
  set(umx_pc ${CMAKE_CURRENT_BINARY_DIR}/${module}.pc)
  configure_file(cmake/${module}.pc.in ${umx_pc}.in @ONLY)
  install(CODE "
    cmake_path(SET UMX_PC_PREFIX NORMALIZE \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${umx_pc}.in\" \"${umx_pc}\" @ONLY)"
    COMPONENT ${component})
  install(FILES ${umx_pc} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT ${component})
endwhile()
