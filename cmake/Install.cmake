# Installation: the library, the stand-ins it links, their headers, a CMake
# package (UMXClient::UMXClient) and a pkg-config file; and a Debian package.

include(CMakePackageConfigHelpers)

set(UMX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/UMXClient)

install(TARGETS UMXClient QiUtils RkJobClient
  EXPORT UMXClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
    NAMELINK_COMPONENT development)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient
  COMPONENT development FILES_MATCHING PATTERN "*.h")
install(DIRECTORY platform/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/umxclient/platform
  COMPONENT development FILES_MATCHING PATTERN "*.h")

install(EXPORT UMXClientTargets
  NAMESPACE UMXClient::
  DESTINATION ${UMX_CMAKE_DIR}
  COMPONENT development)

configure_package_config_file(cmake/UMXClientConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/UMXClientConfig.cmake
  INSTALL_DESTINATION ${UMX_CMAKE_DIR})
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
configure_file(cmake/umxclient.pc.in ${CMAKE_CURRENT_BINARY_DIR}/umxclient.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/umxclient.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT development)

# One Debian package holding the library and everything needed to build
# against it.
set(CPACK_PACKAGE_NAME umxclient)
set(CPACK_PACKAGE_VENDOR "UMXClient developers")
set(CPACK_PACKAGE_CONTACT "UMXClient developers <umxclient@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client library for the backup agents of the job framework")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libboost-dev (>= 1.74)")
set(CPACK_GENERATOR DEB)
include(CPack)
