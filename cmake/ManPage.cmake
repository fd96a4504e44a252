# umx_install_man_page(<page> <component>): installs the manual page <page>
# (umx-agent-check.1) of the current source folder in <component>, with
# @PROJECT_VERSION@ replaced by the project's version. Debian wants it
# compressed with gzip -9n, which gives the same bytes from every build.
find_program(UMX_GZIP gzip REQUIRED)

function(umx_install_man_page page component)
  string(REGEX MATCH "[0-9]$" section ${page})
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/${page})
  configure_file(${page} ${configured} @ONLY)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${UMX_GZIP} -9n --stdout ${configured} > ${page}.gz
    DEPENDS ${configured} VERBATIM)
  get_filename_component(name ${page} NAME_WE)
  add_custom_target(${name}-man ALL DEPENDS ${page}.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
