# Builds the Debian packages of a configured and built tree into a scratch directory and checks their
# names, sections, files and dependencies, and with LINTIAN set (the program's path) that lintian reports
# no error and no warning; then unpacks them into a scratch root and runs qel-batch, the Python module
# (with PYTHON set) and a program built against the library from there. Run as:
#   cmake -DBUILD_DIR=<build> -DSCRATCH=<dir> -DVERSION=<x.y> -DAPP_ID=<id> -DMETAINFO=<file>
#         -DSOURCE=<tree> -DCXX=<compiler> -DLIBDIR=<lib/triplet> [-DPYTHON=<python3>] [-DLINTIAN=<lintian>] -P CheckPackage.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(root ${SCRATCH}/root)
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()
run(cpack ${CMAKE_CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${SCRATCH})
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
# Each package's files (besides its changelog and copyright), then its section and dependencies.
set(lib usr/${LIBDIR})
set(py usr/lib/python3/dist-packages/qel)
set(qel usr/bin/qel usr/bin/qel-batch usr/share/man/man1/qel.1.gz usr/share/man/man1/qel-batch.1.gz
    usr/share/applications/${APP_ID}.desktop usr/share/metainfo/${APP_ID}.metainfo.xml
    usr/share/icons/hicolor/48x48/apps/${APP_ID}.png usr/share/icons/hicolor/scalable/apps/${APP_ID}.svg
    usr/share/qel/samples/photo.bmp graphics libc6 libstdc\\+\\+6 libqt6widgets6 libqt6printsupport6)
set(libqel0 ${lib}/libqel.so.0 ${lib}/libqel.so.${VERSION} libs libc6 libstdc\\+\\+6)
set(libqel-dev usr/include/qel/qel.h usr/include/qel/op_result.h usr/include/qel/export.h usr/include/qel/operation_args.h
    usr/include/qel/picture_operations.inc ${lib}/libqel.so ${lib}/libqel.a ${lib}/cmake/Qel/QelConfig.cmake
    ${lib}/pkgconfig/qel.pc libdevel "libqel0 \\(= ${VERSION}\\)")
set(python3-qel ${py}/__init__.py ${py}/__init__.pyi ${py}/py.typed "${py}/_qel\\.cpython-[^/ ]+\\.so" python python3 python3-numpy)
set(packages qel libqel0 libqel-dev)
if(PYTHON)
  list(APPEND packages python3-qel)
endif()
set(problems "")
foreach(package IN LISTS packages)
  set(deb ${SCRATCH}/${package}_${VERSION}_${arch}.deb)
  list(APPEND debs ${deb})
  run("listing ${deb}" dpkg-deb -c ${deb})
  execute_process(COMMAND dpkg-deb -f ${deb} Section Depends OUTPUT_VARIABLE ${package}_fields)
  foreach(item IN LISTS ${package} ITEMS usr/share/doc/${package}/changelog.gz usr/share/doc/${package}/copyright)
    if(item MATCHES "/" AND NOT output MATCHES " \\./${item}( -> [^\n]*)?\n")
      string(APPEND problems "${package}: missing ${item}\n")
    elseif(NOT item MATCHES "/" AND NOT ${package}_fields MATCHES "(: |, )${item}( |,|\n)")
      string(APPEND problems "${package}: no ${item} in ${${package}_fields}\n")
    endif()
  endforeach()
  run("unpacking ${deb}" dpkg -x ${deb} ${root})
endforeach()
# Other programs' MIME definitions stay as they are; the help is built into the program.
foreach(path usr/share/mime/ usr/share/qel/help/)
  if(EXISTS ${root}/${path})
    string(APPEND problems "unexpected ${path}\n")
  endif()
endforeach()
# The library names its package for dpkg-shlibdeps, and dpkg refreshes ld.so's cache by trigger.
run("libqel0's control files" dpkg-deb -I ${SCRATCH}/libqel0_${VERSION}_${arch}.deb shlibs triggers)
if(NOT output STREQUAL "libqel 0 libqel0 (= ${VERSION})\nactivate-noawait ldconfig\n")
  string(APPEND problems "libqel0's shlibs and triggers: ${output}\n")
endif()
# The programs depend on libqel0 exactly when they link it (not once they link the static library).
run(readelf readelf -d ${root}/usr/bin/qel-batch)
string(REGEX MATCH "\\[libqel\\.so\\.0\\]" linked "${output}")
string(REGEX MATCH "libqel0[^,\n]*" depends "${qel_fields}")
if(NOT "${linked} ${depends}" MATCHES "^(\\[libqel\\.so\\.0\\] libqel0 \\(= ${VERSION}\\)| )$")
  string(APPEND problems "qel-batch links '${linked}', qel depends on '${depends}'\n")
endif()
# The software centre shows screenshots, a homepage and who makes the program.
file(READ ${METAINFO} metainfo)
foreach(element "<screenshot" "<url type=\"homepage\">" "<developer_name>")
  if(NOT metainfo MATCHES "${element}")
    string(APPEND problems "the metainfo lacks ${element}\n")
  endif()
endforeach()
# Debian's own checks: any error or warning fails (information and pedantic notes do not).
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --tag-display-limit 0 ${debs} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" complaints "${out}")
  if(complaints OR NOT rc EQUAL 0)
    string(APPEND problems "lintian:\n${out}\n")
  endif()
endif()
if(problems)
  message(FATAL_ERROR "${SCRATCH}:\n${problems}")
endif()
# From the unpacked root: qel-batch finds the library by its RUNPATH, Python the package by PYTHONPATH,
# and the consumer builds against the CMake package and qel.pc there.
unset(ENV{LD_LIBRARY_PATH})
run("qel-batch --help" ${root}/usr/bin/qel-batch --help)
if(PYTHON)
  set(ENV{PYTHONPATH} ${root}/usr/lib/python3/dist-packages)
  run("import qel" ${PYTHON} -c "import qel\nassert qel.open('${root}/usr/share/qel/samples/photo.bmp').width == 240")
endif()
set(ENV{LD_LIBRARY_PATH} ${root}/${lib})
run("the consumer" ${CMAKE_COMMAND} -DPREFIX=${root}/usr -DSCRATCH=${SCRATCH}/consumer -DSOURCE=${SOURCE}/tests/lib/consumer
    -DCXX=${CXX} -P ${SOURCE}/tests/lib/consumer.cmake)
file(REMOVE_RECURSE ${SCRATCH})
