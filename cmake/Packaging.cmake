# Debian packages, one per component, made by `cpack -G DEB` (package preset
# deb) from a build installed under /usr (configure preset deb), so that the
# libraries land in the multiarch folder:
#   runtime       libumxclient1
#   development   libumxclient-dev
#   localplatform umxclient-local-platform (local builds only)
# Debian's own files for them are in cmake/debian. The packages are native
# (this project is its own upstream), so the version has no revision and the
# changelog is changelog.gz.

set(UMX_DEB_MAINTAINER "UMXClient developers <umxclient@example.org>" CACHE STRING
  "Maintainer field of the Debian packages, as Name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME umxclient)
set(CPACK_PACKAGE_VENDOR "UMXClient developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(UMX_PLATFORM STREQUAL "local")
  list(APPEND CPACK_COMPONENTS_ALL localplatform)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_SOURCE umxclient)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${UMX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/FinishPackages.cmake)
set(umx_deb_version ${CPACK_DEBIAN_PACKAGE_VERSION})

# gzip -9n: no name or time stamp, so every build gives the same bytes.
set(umx_deb_changelog ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian)
execute_process(COMMAND ${UMX_GZIP} -9n --stdout ${umx_deb_changelog}
  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${umx_deb_changelog})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libumxclient1)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libumxclient-dev)
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_NAME umxclient-local-platform)

# Every package has its copyright and changelog in its own doc folder; only
# the packaging installs them.
foreach(umx_component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${umx_component} umx_upper)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
      ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${umx_upper}_PACKAGE_NAME}
    COMPONENT ${umx_component} EXCLUDE_FROM_ALL)
endforeach()

# libUMXClient.so.1 needs libQiUtils.so.1 and libRkJobClient.so.1, which no
# Debian package holds: on a deployment they come with the product's own
# installation, which cannot be named here, and installing the library must
# never pull in the stand-ins. So no package depends on or provides a
# platform package. dpkg-shlibdeps is shown where the build found the
# libraries (and libUMXClient, for programs of the other packages that link
# it); CPack runs it with --ignore-missing-info, so a library that belongs
# to no package adds no dependency.
set(umx_deb_options "set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS \"$<REMOVE_DUPLICATES:\
$<TARGET_FILE_DIR:UMXClient>;$<TARGET_FILE_DIR:UMXClient::QiUtils>;$<TARGET_FILE_DIR:UMXClient::RkJobClient>>\")\n")
# cpack refuses a build whose libraries would miss the multiarch folder, and
# a changelog whose latest entry is for another version.
file(STRINGS ${umx_deb_changelog} umx_deb_changelog_head LIMIT_COUNT 1)
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  string(APPEND umx_deb_options "message(FATAL_ERROR \"Debian packages are made from a build "
    "installed under /usr (cmake --preset deb), not ${CMAKE_INSTALL_PREFIX}\")\n")
elseif(NOT umx_deb_changelog_head MATCHES "^umxclient \\(${umx_deb_version}\\) ")
  string(APPEND umx_deb_options "message(FATAL_ERROR \"The latest entry of "
    "${umx_deb_changelog} is not for version ${umx_deb_version}\")\n")
endif()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/UMXClientCPackOptions.cmake
  CONTENT "if(CPACK_GENERATOR STREQUAL \"DEB\")\n${umx_deb_options}endif()\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/UMXClientCPackOptions.cmake)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_MULTIARCH same)
# A program built against 1.N runs on 1.N or later: a minor version adds to
# the interface, a patch version changes none of it.
set(umx_deb_shlibs ${CMAKE_CURRENT_BINARY_DIR}/debian/shlibs)
file(WRITE ${umx_deb_shlibs}
  "libUMXClient ${PROJECT_VERSION_MAJOR} libumxclient1 (>= ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${umx_deb_shlibs} ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
"client library for the job framework's backup agents
UMXClient is the shared library that a backup agent links to take part in a
job of the job framework. It reads and validates the job options on the
agent's command line, owns the process's backup job client, finds the
directories that hold a job's results, names job statuses and gives the
agent its job report interface.

It runs on the product's utility and job platform libraries,
libQiUtils.so.1 and libRkJobClient.so.1, which come with the product's own
installation and not with this package.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "libumxclient1 (= ${umx_deb_version}), libboost-dev (>= 1.74)")
if(UMX_PLATFORM STREQUAL "local")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SUGGESTS umxclient-local-platform)
endif()
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"client library for the job framework's backup agents - development files
UMXClient is the shared library that a backup agent links to take part in a
job of the job framework.

This package holds the headers of the library and of the platform
interface it is built on, the libUMXClient.so link, the CMake package
(find_package(UMXClient), target UMXClient::UMXClient) and the pkg-config
module umxclient.")

# No Multi-Arch: the package is to hold a program in /usr/bin. Its CMake
# targets and pkg-config module build on those of the same version's -dev.
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LOCALPLATFORM_PACKAGE_DEPENDS "libumxclient-dev (= ${umx_deb_version})")
set(CPACK_DEBIAN_LOCALPLATFORM_DESCRIPTION
"local stand-ins for the job platform, to test backup agents
UMXClient runs on the product's utility and job platform libraries. This
package holds working stand-ins for both, in a folder of their own off the
dynamic loader's path, with controls that make the platform fail in every
way it can report, so that an agent's tests run its failure paths without
the product.

Agents' tests use them through find_package(UMXClient COMPONENTS
LocalPlatform) and the target UMXClient::LocalPlatform, or the pkg-config
module umxclient-local-platform. The program umx-agent-check runs any agent
binary through a whole job and through every failure the platform can
report, and gives a verdict for each; umx-sample-agent is an agent that
passes it. The sources of the examples, a first agent and the sample agent,
are in the package's documentation with a CMakeLists.txt that builds them.")

include(CPack)
