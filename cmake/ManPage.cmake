# umx_install_man_page(<page> <component>): installs the manual page <page>
# (umx-agent-check.1) of the current source folder in <component>, with
# @PROJECT_VERSION@ replaced by the project's version and @UMX_MAN_DATE@ by
# the date of the release. Debian wants it compressed with gzip -9n, which
# gives the same bytes from every build.
find_program(UMX_GZIP gzip REQUIRED)

# The release's date: SOURCE_DATE_EPOCH's where it is set (dpkg sets it from
# the changelog; string(TIMESTAMP) reads it), else the date of the
# changelog's latest entry, so that every build of a commit writes the same.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP UMX_MAN_DATE "%Y-%m-%d" UTC)
else()
  file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog umx_signoff
    REGEX "^ -- .*  [A-Z][a-z][a-z], [0-9][0-9] [A-Z][a-z][a-z] [0-9][0-9][0-9][0-9] " LIMIT_COUNT 1)
  string(REGEX REPLACE ".*, ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) .*" "\\3;\\2;\\1"
    umx_signoff "${umx_signoff}")
  list(POP_FRONT umx_signoff umx_year umx_month umx_day)
  set(umx_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND umx_months "${umx_month}" umx_month)
  math(EXPR umx_month "${umx_month} + 1" OUTPUT_FORMAT DECIMAL)
  if(umx_month LESS 10)
    set(umx_month 0${umx_month})
  endif()
  set(UMX_MAN_DATE ${umx_year}-${umx_month}-${umx_day})
endif()

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
