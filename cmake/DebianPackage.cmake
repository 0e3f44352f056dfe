# The Debian package: `cpack -G DEB` in the build directory makes qel_<version>_<arch>.deb with both
# programs, their manual pages, the desktop files, the samples, and the changelog and copyright file
# Debian asks of every package; dpkg-shlibdeps computes the library dependencies.

# Manual pages and the changelog go in compressed at the highest level, without a time stamp.
set(QEL_GZIPPED "")
# (qel-batch's page is written at build time, its operations from their declarations.)
foreach(source ${CMAKE_SOURCE_DIR}/docs/qel.1 ${QEL_GENERATED}/qel-batch.1 ${CMAKE_SOURCE_DIR}/data/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
                     COMMAND sh -c "gzip -9n -c '${source}' > '${out}'"
                     DEPENDS ${source} VERBATIM)
  list(APPEND QEL_GZIPPED ${out})
endforeach()
add_custom_target(packaging_files ALL DEPENDS ${QEL_GZIPPED})
install(FILES ${CMAKE_BINARY_DIR}/packaging/qel-batch.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(QEL_GUI)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/qel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz data/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qel)
set(CPACK_PACKAGE_VENDOR "The Qel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "image-processing program with a Japanese user interface")
# Lines of the long description stay below 80 characters.
set(CPACK_PACKAGE_DESCRIPTION [=[Qel opens pictures in zoomable windows and changes them with whole-picture
commands: colour-depth conversions, colour reduction, a palette window,
line-art filters, a formula language, scaling, mixing and a fractal.
qel-batch runs the same operations from the command line.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Qel developers <qel-editor@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/qel-editor/qel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Japanese texts and a Japanese font: the window program speaks Japanese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-noto-cjk")
# The programs and the shared library they link (in its own directory, where dpkg-shlibdeps is told to
# look); the headers, the static library and the CMake and pkg-config files (the component "library") are for building against Qel, not in this package.
set(CPACK_COMPONENTS_ALL Unspecified runtime)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
include(CPack)

# The debian_package test builds the package into a scratch directory and checks it, with lintian
# when it is installed.
if(QEL_TESTS AND QEL_GUI)
  find_program(DPKG_DEB dpkg-deb)
  find_program(LINTIAN lintian)
  if(DPKG_DEB)
    add_test(NAME debian_package
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSCRATCH=${CMAKE_BINARY_DIR}/package-test
                     -DVERSION=${PROJECT_VERSION} -DAPP_ID=${QEL_APP_ID} -DLINTIAN=${LINTIAN}
                     -DMETAINFO=${CMAKE_SOURCE_DIR}/data/${QEL_APP_ID}.metainfo.xml
                     -P ${CMAKE_SOURCE_DIR}/cmake/CheckPackage.cmake)
    set_tests_properties(debian_package PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
  endif()
endif()
