# Installation in three components, packaged by Debian's convention:
#   runtime       libumxclient1: libUMXClient.so.1 and nothing else;
#   development   libumxclient-dev: headers, the .so link, the CMake package
#                 (UMXClient::UMXClient) and umxclient.pc;
#   localplatform umxclient-local-platform: the two stand-in libraries, the
#                 local platform's control header and UMXClient::LocalPlatform.
# A product build (UMX_PLATFORM=product) installs no local platform; its CMake
# package finds the product's libraries where the build found them.

include(CMakePackageConfigHelpers)

set(UMX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/UMXClient)

install(TARGETS UMXClient
  EXPORT UMXClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient
  COMPONENT development FILES_MATCHING PATTERN "*.h")
install(DIRECTORY platform/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/platform
  COMPONENT development FILES_MATCHING PATTERN "*.h")

install(EXPORT UMXClientTargets
  NAMESPACE UMXClient::
  DESTINATION ${UMX_CMAKE_DIR}
  COMPONENT development)

if(UMX_PLATFORM STREQUAL "local")
  install(TARGETS QiUtils RkJobClient LocalPlatform
    EXPORT UMXClientLocalPlatformTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT localplatform
      NAMELINK_COMPONENT localplatform
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/localplatform)
  install(FILES standins/rkjobclient/control/RkLocalPlatform.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/localplatform
    COMPONENT localplatform)
  install(EXPORT UMXClientLocalPlatformTargets
    NAMESPACE UMXClient::
    DESTINATION ${UMX_CMAKE_DIR}
    COMPONENT localplatform)
else()
  install(FILES cmake/ProductPlatform.cmake
    DESTINATION ${UMX_CMAKE_DIR} RENAME UMXClientProductPlatform.cmake
    COMPONENT development)
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

# The prefix is found from the .pc file's own place, so the package can be
# installed under any prefix.
file(RELATIVE_PATH UMX_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
set(UMX_PC_PLATFORM_LIBDIR "")
if(UMX_PLATFORM STREQUAL "product")
  set(UMX_PC_PLATFORM_LIBDIR "-L${UMX_PRODUCT_LIBDIR} ")
endif()
configure_file(cmake/umxclient.pc.in ${CMAKE_CURRENT_BINARY_DIR}/umxclient.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/umxclient.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)
