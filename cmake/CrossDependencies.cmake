# Dependencies of a cross build. The target root has neither Boost,
# nlohmann-json nor GoogleTest: the first two are header-only for this
# project, so their headers come from the host; GoogleTest and GoogleMock are
# built from the sources Debian ships (GoogleTestFromSource.cmake).

set(UMX_HOST_BOOST_ROOT /usr/include CACHE PATH "Host directory holding Boost's headers")

set(umx_boost_version_header ${UMX_HOST_BOOST_ROOT}/boost/version.hpp)
if(NOT EXISTS ${umx_boost_version_header})
  message(FATAL_ERROR "Boost headers not found under ${UMX_HOST_BOOST_ROOT}")
endif()
file(STRINGS ${umx_boost_version_header} umx_boost_version REGEX "^#define BOOST_VERSION [0-9]+$")
string(REGEX REPLACE "^#define BOOST_VERSION " "" umx_boost_version "${umx_boost_version}")
if(umx_boost_version LESS 107400)
  message(FATAL_ERROR "Boost 1.74 or later is required, found ${umx_boost_version}")
endif()

# The include directory holds nothing but Boost, so the rest of the host's
# headers stay out of the target build.
set(umx_boost_include_dir ${CMAKE_BINARY_DIR}/host-boost)
file(MAKE_DIRECTORY ${umx_boost_include_dir})
file(CREATE_LINK ${UMX_HOST_BOOST_ROOT}/boost ${umx_boost_include_dir}/boost SYMBOLIC)
add_library(Boost::headers INTERFACE IMPORTED GLOBAL)
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
