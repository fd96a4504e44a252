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
