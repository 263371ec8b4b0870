# sdk/korvessa.h compiles warning-free as C99 and C++17 and declares exactly
# the library's exports: every function libkorvessa.so exports once, nothing
# else. Where the mingw compiler is installed, the header's Windows side is
# held to the .def the generator writes the same way.
# cmake -DCC= -DCXX= -DHEADER= -DLIBRARY= -DPYTHON= -DGENERATOR= -DWORK= -P public_header.cmake
file(MAKE_DIRECTORY "${WORK}")
set(flags -Wall -Wextra -pedantic -Werror)

function(kv_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# The functions a compiler reads from the header, by name, sorted.
function(kv_declared compiler result)
  set(aux "${WORK}/${result}.aux")
  file(WRITE "${WORK}/${result}.c" "#include \"${HEADER}\"\n")
  kv_run(${compiler} -std=c99 ${flags} ${ARGN} -fsyntax-only -aux-info "${aux}" "${WORK}/${result}.c")
  file(STRINGS "${aux}" lines REGEX "korvessa\\.h:")
  set(names "")
  foreach(line ${lines})
    # "/* korvessa.h:12:NC */ extern KvBstr GetDllVersion (void); /* (void) */"
    if(line MATCHES "([A-Za-z_][A-Za-z0-9_]*) \\(")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(SORT names)
  set(${result} "${names}" PARENT_SCOPE)
endfunction()

function(kv_expect_same what declared exported)
  if(NOT declared STREQUAL exported)
    set(missing ${exported})
    list(REMOVE_ITEM missing ${declared})
    set(extra ${declared})
    list(REMOVE_ITEM extra ${exported})
    message(FATAL_ERROR "${what}: exported but not declared: ${missing}; declared but not exported: ${extra}")
  endif()
endfunction()

# C99 and C++17, warnings as errors.
kv_declared(${CC} linux)
file(WRITE "${WORK}/header.cpp" "#include \"${HEADER}\"\nint main() { return KV_ERR_SUCCESS; }\n")
kv_run(${CXX} -std=c++17 ${flags} -fsyntax-only "${WORK}/header.cpp")

# Linux: the library's C symbols (the map hides the C++ ones).
kv_run(nm -D --defined-only "${LIBRARY}")
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(exported "")
foreach(line ${lines})
  if(line MATCHES " T ([A-Za-z][A-Za-z0-9_]*)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(SORT exported)
list(LENGTH exported n)
if(n EQUAL 0)
  message(FATAL_ERROR "no exports read from ${LIBRARY}")
endif()
kv_expect_same("libkorvessa.so" "${linux}" "${exported}")

# Windows: the .def's names, less the COM server entries (PRIVATE: the
# system calls them, through its own declarations).
find_program(MINGW_CC x86_64-w64-mingw32-gcc)
if(MINGW_CC)
  kv_declared(${MINGW_CC} windows)
  kv_run(${PYTHON} ${GENERATOR} def --arch x64 --out "${WORK}/korvessa.def")
  file(STRINGS "${WORK}/korvessa.def" lines REGEX "^  ")
  set(exported "")
  foreach(line ${lines})
    if(line MATCHES "PRIVATE$")
      continue()
    elseif(line MATCHES "= ([A-Za-z][A-Za-z0-9_]*)$")
      list(APPEND exported "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^  ([A-Za-z][A-Za-z0-9_]*)$")
      list(APPEND exported "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(SORT exported)
  kv_expect_same("korvessa.def" "${windows}" "${exported}")
else()
  message(STATUS "x86_64-w64-mingw32-gcc not installed: the header's Windows side is not checked")
endif()
