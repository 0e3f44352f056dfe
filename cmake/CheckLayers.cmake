# Fails when a source file includes a header of a layer above its own, or when
# the core includes Qt. Run as: cmake -DROOT=<tree holding src/> -P CheckLayers.cmake
#
#   core/image            core/image: the picture record, rows, memory
#   core/formats          core/image, core/formats: reading and writing files
#   core/ops              core/image, core/formats, core/ops: the operation descriptor, rules, ids
#   core/<family>         the above and its own family (colour, lineart, expr, geometry)
#   core/commands         core: the command table and the list of every operation
#   lib                   core, lib: the installed library's facade (include/qel/)
#   cli                   core, cli
#   gui/kit               core, gui/kit
#   gui/docview           core, gui/kit, gui/docview
#   gui/commands/<family> core, gui/kit, gui/docview, its own family
#   gui/shell             core, gui
set(offenders "")
file(GLOB_RECURSE files RELATIVE ${ROOT}/src ${ROOT}/src/*.h ${ROOT}/src/*.cpp)
foreach(f IN LISTS files)
  if(f MATCHES "^core/image/")
    set(allowed "core/image/")
  elseif(f MATCHES "^core/formats/")
    set(allowed "core/image/|core/formats/")
  elseif(f MATCHES "^core/ops/")
    set(allowed "core/image/|core/formats/|core/ops/")
  elseif(f MATCHES "^core/(colour|lineart|expr|geometry)/")
    set(allowed "core/image/|core/formats/|core/ops/|core/${CMAKE_MATCH_1}/")
  elseif(f MATCHES "^core/commands/")
    set(allowed "core/")
  elseif(f MATCHES "^lib/")
    set(allowed "core/|lib/")
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
