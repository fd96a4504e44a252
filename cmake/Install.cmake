# Installation in three components, packaged by Debian's convention:
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

# pkg-config modules find their prefix from their own place, so the package
# can be installed under any prefix.
file(RELATIVE_PATH UMX_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" UMX_PC_TO_PREFIX ${UMX_PC_TO_PREFIX})
# An agent built through pkg-config gets the library's std::string ABI.
set(UMX_PC_ABI_CFLAGS "")
if(NOT UMX_GLIBCXX_CXX11_ABI)
  set(UMX_PC_ABI_CFLAGS " -D_GLIBCXX_USE_CXX11_ABI=0")
endif()
configure_file(cmake/umxclient.pc.in ${CMAKE_CURRENT_BINARY_DIR}/umxclient.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/umxclient.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
# The stand-ins' folder is the kit's run path, which must be absolute, and
# pkg-config cannot clean a path built on ${pcfiledir} of its "../". So
# that folder is written in when the module is installed, under the prefix
# of that installation; everything else is filled in now.
if(UMX_PLATFORM STREQUAL "local")
  set(umx_pc_kit ${CMAKE_CURRENT_BINARY_DIR}/umxclient-local-platform.pc)
  set(UMX_PC_PLATFORM_DIR "@UMX_PC_PLATFORM_DIR@")
  configure_file(cmake/umxclient-local-platform.pc.in ${umx_pc_kit}.in @ONLY)
  install(CODE "
    cmake_path(SET UMX_PC_PLATFORM_DIR NORMALIZE
      \"\${CMAKE_INSTALL_PREFIX}/${UMX_LOCAL_PLATFORM_LIBDIR}\")
    configure_file(\"${umx_pc_kit}.in\" \"${umx_pc_kit}\" @ONLY)"
    COMPONENT localplatform)
  install(FILES ${umx_pc_kit}
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT localplatform)
endif()
