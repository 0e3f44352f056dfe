# Builds the Debian package of a configured and built tree into a scratch directory and checks its
# name, its files and its dependencies, and with LINTIAN set (the program's path) that lintian reports
# no error and no warning. Run as:
#   cmake -DBUILD_DIR=<build> -DSCRATCH=<dir> -DVERSION=<x.y> -DAPP_ID=<id> -DMETAINFO=<file>
#         [-DLINTIAN=<lintian>] -P CheckPackage.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${SCRATCH}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(rc)
  message(FATAL_ERROR "cpack failed:\n${out}")
endif()
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE)
set(deb ${SCRATCH}/qel_${VERSION}_${arch}.deb)
if(NOT EXISTS ${deb})
  file(GLOB made ${SCRATCH}/*.deb)
  message(FATAL_ERROR "no ${deb}; made: ${made}")
endif()
execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE contents)
execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends)
set(problems "")
foreach(path usr/bin/qel usr/bin/qel-batch usr/share/man/man1/qel.1.gz usr/share/man/man1/qel-batch.1.gz
             usr/share/doc/qel/changelog.gz usr/share/doc/qel/copyright usr/share/applications/${APP_ID}.desktop
             usr/share/metainfo/${APP_ID}.metainfo.xml usr/share/icons/hicolor/48x48/apps/${APP_ID}.png
             usr/share/icons/hicolor/scalable/apps/${APP_ID}.svg usr/share/qel/samples/photo.bmp)
  if(NOT contents MATCHES " \\./${path}\n")
    string(APPEND problems "missing ${path}\n")
  endif()
endforeach()
# Other programs' MIME definitions stay as they are; the help is built into the program.
foreach(path usr/share/mime/ usr/share/qel/help/)
  if(contents MATCHES " \\./${path}")
    string(APPEND problems "unexpected ${path}\n")
  endif()
endforeach()
foreach(library libc6 libstdc\\+\\+6 libqt6widgets6 libqt6printsupport6)
  if(NOT depends MATCHES "(^|, )${library}( |,|$)")
    string(APPEND problems "no dependency on ${library} in: ${depends}\n")
  endif()
endforeach()
# The software centre shows screenshots, a homepage and who makes the program.
file(READ ${METAINFO} metainfo)
foreach(element "<screenshot" "<url type=\"homepage\">" "<developer_name>")
  if(NOT metainfo MATCHES "${element}")
    string(APPEND problems "the metainfo lacks ${element}\n")
  endif()
endforeach()
# Debian's own checks: any error or warning fails (information and pedantic notes do not).
if(LINTIAN)
  execute_process(COMMAND ${LINTIAN} --tag-display-limit 0 ${deb} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" complaints "${out}")
  if(complaints OR NOT rc EQUAL 0)
    string(APPEND problems "lintian:\n${out}\n")
  endif()
endif()
if(problems)
  message(FATAL_ERROR "${deb}:\n${problems}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
