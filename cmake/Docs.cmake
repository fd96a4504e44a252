# The API reference of the installed headers, made by Doxygen from
# cmake/Doxyfile.in. Target doc builds it when Doxygen is found; with
# UMX_BUILD_DOCS it is part of the default build and installed, component
# doc, in share/doc/libumxclient-doc/html. A Doxygen warning, an
# undocumented declaration among them, fails the target.

if(UMX_BUILD_DOCS)
  find_package(Doxygen REQUIRED)
else()
  find_package(Doxygen QUIET)
endif()
if(NOT DOXYGEN_FOUND)
  return()
endif()

set(UMX_DOC_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/apidoc)
configure_file(${CMAKE_CURRENT_LIST_DIR}/Doxyfile.in ${UMX_DOC_OUTPUT_DIR}/Doxyfile @ONLY)
# Doxygen reads the whole folder; the list only tells the build when to run
# it again, and takes in a new header at the next configure.
file(GLOB_RECURSE umx_doc_headers ${PROJECT_SOURCE_DIR}/include/*.h)

# Doxygen writes pages before it fails on a warning, so the stamp, written
# after a clean run only, is what tells the build that the reference is
# done. A run starts from an empty folder, so no page of a removed
# declaration stays behind.
set(umx_doc_stamp ${UMX_DOC_OUTPUT_DIR}/html.stamp)
add_custom_command(OUTPUT ${umx_doc_stamp}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${UMX_DOC_OUTPUT_DIR}/html ${umx_doc_stamp}
  COMMAND Doxygen::doxygen ${UMX_DOC_OUTPUT_DIR}/Doxyfile
  COMMAND ${CMAKE_COMMAND} -E touch ${umx_doc_stamp}
  DEPENDS ${umx_doc_headers} ${UMX_DOC_OUTPUT_DIR}/Doxyfile
  WORKING_DIRECTORY ${UMX_DOC_OUTPUT_DIR}
  COMMENT "Generating the API reference with Doxygen"
  VERBATIM)
if(UMX_BUILD_DOCS)
  add_custom_target(doc ALL DEPENDS ${umx_doc_stamp})
  install(DIRECTORY ${UMX_DOC_OUTPUT_DIR}/html/
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libumxclient-doc/html
    COMPONENT doc)
else()
  add_custom_target(doc DEPENDS ${umx_doc_stamp})
endif()
