# Fails when a source file includes a header of a layer above its own or, for the facade
# and the Python module, one behind the facade, or when the core includes Qt.
# Run as: cmake -DROOT=<tree holding src/, include/, python/> -P CheckLayers.cmake
#
#   core/image            core/image: the picture record, rows, memory (and qel/op_result.h)
#   core/formats          core/image, core/formats: reading and writing files
#   core/ops              core/image, core/formats, core/ops: the operation descriptor, rules, ids
#   core/<family>         the above and its own family (colour, lineart, expr, geometry)
#   core/commands         core: the command table and the list of every operation
#   include/qel           qel and the standard library: the installed library's facade
#   lib                   qel, core, lib: the facade's implementation
#   python                qel: the Python module sees the facade only
#   cli                   core, cli
#   gui/kit               core, gui/kit
#   gui/docview           core, gui/kit, gui/docview
#   gui/commands/<family> core, gui/kit, gui/docview, its own family
#   gui/shell             core, gui
#
# A quoted include is always a project header; one in angle brackets is when it
# starts with a directory of src/ or include/, and is otherwise a system header.
set(project_header "^(core|gui|cli|lib|qel)/")
# The one facade header the core shares: the result type of an operation, plain types only, under
# every layer.
set(shared "qel/op_result\\.h$|")
set(offenders "")
file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/src/*.h ${ROOT}/src/*.cpp
     ${ROOT}/include/*.h ${ROOT}/python/*.h ${ROOT}/python/*.cpp)
list(SORT files)
foreach(f IN LISTS files)
  set(broken "upward include of")
  if(f MATCHES "^src/core/image/")
    set(allowed "${shared}core/image/")
  elseif(f MATCHES "^src/core/formats/")
    set(allowed "${shared}core/image/|core/formats/")
  elseif(f MATCHES "^src/core/ops/")
    set(allowed "${shared}core/image/|core/formats/|core/ops/")
  elseif(f MATCHES "^src/core/(colour|lineart|expr|geometry)/")
    set(allowed "${shared}core/image/|core/formats/|core/ops/|core/${CMAKE_MATCH_1}/")
  elseif(f MATCHES "^src/core/commands/")
    set(allowed "${shared}core/")
  elseif(f MATCHES "^include/qel/")
    set(allowed "qel/")
    set(broken "the facade includes")
  elseif(f MATCHES "^src/lib/")
    set(allowed "qel/|core/|lib/")
  elseif(f MATCHES "^python/")
    set(allowed "qel/")
    set(broken "the Python module includes")
  elseif(f MATCHES "^src/cli/")
    set(allowed "core/|cli/")
  elseif(f MATCHES "^src/gui/kit/")
    set(allowed "core/|gui/kit/")
  elseif(f MATCHES "^src/gui/docview/")
    set(allowed "core/|gui/kit/|gui/docview/")
  elseif(f MATCHES "^src/gui/commands/([^/]+)/")
    set(allowed "core/|gui/kit/|gui/docview/|gui/commands/${CMAKE_MATCH_1}/")
  elseif(f MATCHES "^src/gui/shell/")
    set(allowed "core/|gui/")
  else()
    list(APPEND offenders "${f}: outside every layer")
    continue()
  endif()
  file(STRINGS ${ROOT}/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]*).*" "\\1" form "${line}")
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]*).*" "\\2" target "${line}")
    if(form STREQUAL "\"" OR target MATCHES "${project_header}")
      if(NOT target MATCHES "^(${allowed})")
        list(APPEND offenders "${f}: ${broken} ${target}")
      endif()
    elseif(f MATCHES "^include/" AND NOT target MATCHES "^[a-z_]+$")
      # The facade is installed without the core's dependencies: a system
      # header there must be one of the standard library's (<vector>, <cstdint>).
      list(APPEND offenders "${f}: ${broken} ${target}")
    endif()
  endforeach()
  if(f MATCHES "^src/core/")
    file(STRINGS ${ROOT}/${f} qt REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](Q[A-Za-z]+|Qt[A-Za-z]*/)")
    if(qt)
      list(APPEND offenders "${f}: the core includes Qt: ${qt}")
    endif()
  endif()
endforeach()
if(offenders)
  # Indented, so that CMake prints each line as it is instead of wrapping it.
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "Layer rule broken:\n  ${text}")
endif()
message(STATUS "every include points down")
