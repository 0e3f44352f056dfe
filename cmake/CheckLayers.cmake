# Fails when a source file includes a header of a layer above its own, or when
# the core includes Qt. Run as: cmake -DROOT=<tree holding src/> -P CheckLayers.cmake
#
#   core                  may include core
#   cli                   core, cli
#   gui/kit               core, gui/kit
#   gui/docview           core, gui/kit, gui/docview
#   gui/commands/<family> core, gui/kit, gui/docview, its own family
#   gui/shell             core, gui
set(offenders "")
file(GLOB_RECURSE files RELATIVE ${ROOT}/src ${ROOT}/src/*.h ${ROOT}/src/*.cpp)
foreach(f IN LISTS files)
  if(f MATCHES "^core/")
    set(allowed "core/")
  elseif(f MATCHES "^cli/")
    set(allowed "core/|cli/")
  elseif(f MATCHES "^gui/kit/")
    set(allowed "core/|gui/kit/")
  elseif(f MATCHES "^gui/docview/")
    set(allowed "core/|gui/kit/|gui/docview/")
  elseif(f MATCHES "^gui/commands/([^/]+)/")
    set(allowed "core/|gui/kit/|gui/docview/|gui/commands/${CMAKE_MATCH_1}/")
  elseif(f MATCHES "^gui/shell/")
    set(allowed "core/|gui/")
  else()
    list(APPEND offenders "${f}: outside every layer")
    continue()
  endif()
  file(STRINGS ${ROOT}/src/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" target "${line}")
    if(NOT target MATCHES "^(${allowed})")
      list(APPEND offenders "${f}: upward include of ${target}")
    endif()
  endforeach()
  if(f MATCHES "^core/")
    file(STRINGS ${ROOT}/src/${f} qt REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]*/)")
    if(qt)
      list(APPEND offenders "${f}: the core includes Qt: ${qt}")
    endif()
  endif()
endforeach()
if(offenders)
  list(JOIN offenders "\n" text)
  message(FATAL_ERROR "Layer rule broken:\n${text}")
endif()
message(STATUS "every include points down")
