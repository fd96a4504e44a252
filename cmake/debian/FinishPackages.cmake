# Run by cpack once it has made the Debian packages, before it copies them
# out (CPACK_POST_BUILD_SCRIPTS). Two things CMake 3.25's CPack gets wrong
# for Debian are put right here:
#  - it writes no Multi-Arch field, so a package's field is taken from
#    CPACK_DEBIAN_<COMPONENT>_PACKAGE_MULTIARCH (the name later CPacks read);
#  - it gives a package with a library under /usr/lib postinst and postrm
#    scripts that only run ldconfig, where Debian has the package activate
#    the ldconfig trigger instead (its triggers file), so those are dropped.
# A package that needs either is unpacked and built again with dpkg-deb.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(UMX_DPKG_DEB dpkg-deb REQUIRED)

foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND ${UMX_DPKG_DEB} --field ${deb} Package
    OUTPUT_VARIABLE package OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(multiarch "")
  foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    if(CPACK_DEBIAN_${upper}_PACKAGE_NAME STREQUAL package)
      set(multiarch "${CPACK_DEBIAN_${upper}_PACKAGE_MULTIARCH}")
    endif()
  endforeach()

  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/finish/${package})
  file(REMOVE_RECURSE ${tree})
  file(MAKE_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY}/finish)
  execute_process(COMMAND ${UMX_DPKG_DEB} --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed FALSE)

  file(READ ${tree}/DEBIAN/control control)
  if(multiarch AND NOT control MATCHES "(^|\n)Multi-Arch:")
    string(STRIP "${control}" control)
    file(WRITE ${tree}/DEBIAN/control "${control}\nMulti-Arch: ${multiarch}\n")
    set(changed TRUE)
  endif()

  foreach(script postinst postrm)
    if(EXISTS ${tree}/DEBIAN/${script})
      file(READ ${tree}/DEBIAN/${script} text)
      if(text MATCHES "^#!/bin/sh[ \n]*set -e[ \n]*if \\[ \"\\$1\" = \"[a-z]+\" \\]; then[ \t\n]*ldconfig[ \t\n]*fi[ \n]*$")
        file(REMOVE ${tree}/DEBIAN/${script})
        set(changed TRUE)
      endif()
    endif()
  endforeach()

  if(changed)
    execute_process(COMMAND ${UMX_DPKG_DEB} --root-owner-group --build ${tree} ${deb}
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
