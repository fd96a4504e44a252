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

# Debian packages, one per component. The runtime needs the two platform
# libraries, which either the local platform or the product's own packages
# provide under one virtual name.
set(CPACK_PACKAGE_NAME umxclient)
set(CPACK_PACKAGE_VENDOR "UMXClient developers")
set(CPACK_PACKAGE_CONTACT "UMXClient developers <umxclient@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client library for the backup agents of the job framework")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(UMX_PLATFORM STREQUAL "local")
  list(APPEND CPACK_COMPONENTS_ALL localplatform)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(umx_deb_version "${PROJECT_VERSION}")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libumxclient1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6, umxclient-platform")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "UMXClient, the job framework's client library for backup agents")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libumxclient-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libumxclient1 (= ${umx_deb_version}), libboost-dev (>= 1.74)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "UMXClient: headers, CMake package and pkg-config file")

set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_NAME umxclient-local-platform)
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_DEPENDS "libc6, libstdc++6")
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_PROVIDES "umxclient-platform")
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_SUGGESTS "libumxclient-dev")
set(CPACK_COMPONENT_LOCALPLATFORM_DESCRIPTION
  "UMXClient's local stand-ins for the job platform and utility library, with the failure controls that test an agent")
include(CPack)
