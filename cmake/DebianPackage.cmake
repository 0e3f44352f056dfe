# The Debian packages: `cpack -G DEB` in the build directory makes four, one per install component:
#   qel          the programs, their manual pages, the desktop files, icons and samples (Unspecified)
#   libqel0      the shared library libqel.so.0 with its shlibs file (runtime)
#   libqel-dev   headers, the .so link, the static library, QelConfig.cmake and qel.pc (library)
#   python3-qel  the Python package qel (python)
# each with the changelog and copyright file Debian asks of every package; dpkg-shlibdeps computes
# the library dependencies.

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

# Package names by component; the library's package is named after its SONAME.
get_target_property(QEL_SOVERSION libqel SOVERSION)
set(QEL_DEB_PACKAGES Unspecified qel runtime libqel${QEL_SOVERSION} library libqel-dev)
if(TARGET qel_python)
  list(APPEND QEL_DEB_PACKAGES python python3-qel)
endif()
# Every package carries its own copyright file and changelog.
set(QEL_DEB_COMPONENTS "")
while(QEL_DEB_PACKAGES)
  list(POP_FRONT QEL_DEB_PACKAGES component package)
  list(APPEND QEL_DEB_COMPONENTS ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz data/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endwhile()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qel)
set(CPACK_PACKAGE_VENDOR "The Qel developers")
# Installed with the prefix /usr and DESTDIR, so the Python package goes where Debian's python3 looks.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${QEL_DEB_COMPONENTS})
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE qel)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Qel developers <qel-editor@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/qel-editor/qel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Each package's description starts with its own summary line (so CPACK_PACKAGE_DESCRIPTION_SUMMARY,
# which CPack would put before every one of them, stays unset); lines stay below 80 characters.
set(QEL_DEB_ABOUT [=[Qel opens pictures in zoomable windows and changes them with whole-picture
commands: colour-depth conversions, colour reduction, a palette window,
line-art filters, a formula language, scaling, mixing and a fractal.]=])

set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "image-processing program with a Japanese user interface
${QEL_DEB_ABOUT}
qel-batch runs the same operations from the command line.")
# Qt's Japanese texts and a Japanese font: the window program speaks Japanese.
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-noto-cjk")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "Qel's picture operations as a C++ library
${QEL_DEB_ABOUT}
This package holds the shared library libqel.")
# The shlibs file names this package, at exactly this version: the library's ABI is not settled,
# so a program built against one version asks for that one. The same file, found in a package
# root in the build tree, lets dpkg-shlibdeps resolve libqel.so.0 for the programs when they link
# it; the trigger makes dpkg refresh ld.so's cache.
set(QEL_DEB_LIBROOT ${CMAKE_BINARY_DIR}/packaging/libqel${QEL_SOVERSION})
set(QEL_DEB_LIBDIR ${QEL_DEB_LIBROOT}/usr/${QEL_LIBDIR})
file(MAKE_DIRECTORY ${QEL_DEB_LIBROOT}/DEBIAN ${QEL_DEB_LIBDIR})
file(CONFIGURE OUTPUT ${QEL_DEB_LIBROOT}/DEBIAN/shlibs
     CONTENT "libqel ${QEL_SOVERSION} libqel${QEL_SOVERSION} (= ${PROJECT_VERSION})\n")
file(CONFIGURE OUTPUT ${QEL_DEB_LIBROOT}/DEBIAN/triggers CONTENT "activate-noawait ldconfig\n")
add_custom_command(TARGET libqel POST_BUILD
                   COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_SONAME_FILE:libqel>
                           ${QEL_DEB_LIBDIR}/$<TARGET_SONAME_FILE_NAME:libqel>)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${QEL_DEB_LIBDIR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${QEL_DEB_LIBROOT}/DEBIAN/shlibs ${QEL_DEB_LIBROOT}/DEBIAN/triggers)
# Its dependencies come from cmake/DebianLibraryDepends.cmake, not CPack's dpkg-shlibdeps run (which
# would also call ldconfig from postinst and postrm).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS OFF)
set(CPACK_QEL_LIBRARY ${QEL_DEB_LIBDIR}/libqel.so.${QEL_SOVERSION})
set(CPACK_QEL_SHLIBDEPS_WORK ${CMAKE_BINARY_DIR}/packaging/shlibdeps)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/DebianLibraryDepends.cmake)

set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "Qel's picture operations as a C++ library (development files)
${QEL_DEB_ABOUT}
This package holds the headers, the static library and the CMake and
pkg-config files for building programs against libqel.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libqel${QEL_SOVERSION} (= ${PROJECT_VERSION})")

if(TARGET qel_python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "Qel's picture operations on numpy arrays for Python 3
${QEL_DEB_ABOUT}
This package holds the Python module qel.")
  # The extension is built for this one Python version; numpy is not loaded on import, but pictures
  # made from arrays, palettes and numpy.asarray(picture) need it.
  math(EXPR next_minor "${Python_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${next_minor}), python3-numpy")
endif()
include(CPack)

# The debian_package test builds the packages into a scratch directory and checks them, with lintian
# when it is installed, then unpacks them into a scratch root and uses the programs, the Python
# module and the library from there.
if(QEL_TESTS AND QEL_GUI)
  set(python "")
  if(TARGET qel_python)
    set(python -DPYTHON=${Python_EXECUTABLE})
  endif()
  find_program(DPKG_DEB dpkg-deb)
  find_program(LINTIAN lintian)
  if(DPKG_DEB)
    add_test(NAME debian_package
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSCRATCH=${CMAKE_BINARY_DIR}/package-test
                     -DVERSION=${PROJECT_VERSION} -DAPP_ID=${QEL_APP_ID} -DLINTIAN=${LINTIAN}
                     -DMETAINFO=${CMAKE_SOURCE_DIR}/data/${QEL_APP_ID}.metainfo.xml
                     -DSOURCE=${CMAKE_SOURCE_DIR} -DCXX=${CMAKE_CXX_COMPILER} -DLIBDIR=${QEL_LIBDIR} ${python}
                     -P ${CMAKE_SOURCE_DIR}/cmake/CheckPackage.cmake)
    set_tests_properties(debian_package PROPERTIES TIMEOUT 300 RUN_SERIAL ON)
  endif()
endif()
