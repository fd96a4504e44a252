# Dependencies of a cross build. The target root has neither Boost,
# nlohmann-json nor GoogleTest: the first two are header-only for this
# project, so their headers come from the building machine; GoogleTest and
# GoogleMock are built from the sources Debian ships
# (GoogleTestFromSource.cmake).

# Boost's CMake package is the building machine's, in its multiarch folder
# (or where Boost_DIR says). The include folder it names is that machine's
# whole /usr/include, so the target build takes Boost from a folder that
# holds nothing else.
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
  OUTPUT_VARIABLE umx_build_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
block()
  # The package finds its parts beside itself, on the building machine too.
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE NEVER)
  find_package(Boost 1.74 CONFIG REQUIRED PATHS /usr/lib/${umx_build_multiarch}/cmake NO_DEFAULT_PATH)
endblock()
get_target_property(umx_host_boost_include_dir Boost::headers INTERFACE_INCLUDE_DIRECTORIES)
set(umx_boost_include_dir ${CMAKE_BINARY_DIR}/host-boost)
file(MAKE_DIRECTORY ${umx_boost_include_dir})
file(CREATE_LINK ${umx_host_boost_include_dir}/boost ${umx_boost_include_dir}/boost SYMBOLIC)
set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${umx_boost_include_dir})

# nlohmann-json likewise, its folder alone.
set(UMX_HOST_NLOHMANN_JSON_ROOT /usr/include CACHE PATH "Host directory holding nlohmann/json.hpp")
if(NOT EXISTS ${UMX_HOST_NLOHMANN_JSON_ROOT}/nlohmann/json.hpp)
  message(FATAL_ERROR "nlohmann/json.hpp not found under ${UMX_HOST_NLOHMANN_JSON_ROOT}")
endif()
set(umx_nlohmann_json_include_dir ${CMAKE_BINARY_DIR}/host-nlohmann-json)
file(MAKE_DIRECTORY ${umx_nlohmann_json_include_dir})
file(CREATE_LINK ${UMX_HOST_NLOHMANN_JSON_ROOT}/nlohmann ${umx_nlohmann_json_include_dir}/nlohmann
  SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${umx_nlohmann_json_include_dir})
