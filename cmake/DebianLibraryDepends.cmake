# Read by cpack (CPACK_PROJECT_CONFIG_FILE) before it makes the Debian packages: the library
# package's dependencies from dpkg-shlibdeps run on the built library. CPack runs dpkg-shlibdeps
# itself only together with adding `ldconfig` to postinst and postrm of a package holding a
# library under /usr/lib, where Debian wants the package's ldconfig trigger instead.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(work ${CPACK_QEL_SHLIBDEPS_WORK})
  file(MAKE_DIRECTORY ${work}/debian)
  file(WRITE ${work}/debian/control "")
  execute_process(COMMAND dpkg-shlibdeps -O ${CPACK_QEL_LIBRARY} WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(rc OR NOT out MATCHES "^shlibs:Depends=(.+)$")
    message(FATAL_ERROR "dpkg-shlibdeps on ${CPACK_QEL_LIBRARY} failed:\n${out}${err}")
  endif()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
