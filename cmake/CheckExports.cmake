# Checks that the shared library exports Qel's facade and nothing else of Qel's: every exported
# symbol naming a qel:: entity is one of the facade's classes or functions. Run as:
#   cmake -DLIBRARY=<libqel.so> -DNM=<nm> -P CheckExports.cmake
execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc)
  message(FATAL_ERROR "${NM} failed: ${err}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(facade 0)
set(strays "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>": only what names a qel:: entity itself (std:: instantiations over
  # the facade's types are the compiler's).
  string(REGEX REPLACE "^[0-9a-f]* [A-Za-z] " "" name "${line}")
  if(name MATCHES "^qel::|^(typeinfo|typeinfo name|vtable) for qel::")
    if(name MATCHES "^(typeinfo for |typeinfo name for |vtable for )?qel::(Picture|Error|listOperations|calc|version)([:([ ]|$)")
      math(EXPR facade "${facade} + 1")
    else()
      string(APPEND strays "  ${name}\n")
    endif()
  endif()
endforeach()
if(strays)
  message(FATAL_ERROR "libqel exports functions beyond its facade:\n${strays}")
endif()
if(facade LESS 20)
  message(FATAL_ERROR "libqel exports only ${facade} symbols of its facade: is QEL_API lost?")
endif()
message(STATUS "${facade} facade symbols exported, nothing else of Qel's")
