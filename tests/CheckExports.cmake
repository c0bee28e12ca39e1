# Lists the dynamic symbols that a shared library defines (nm -D) and fails when one of them is not
# public API: every exported name must begin with a name that the public headers declare (a class, a
# function, a namespace), or be one of ENTRY_POINTS, or belong to the C++ library or Qt. Internal
# namespaces (KvKernels, Detail, anonymous ones) and internal functions (the codecs, the pixel
# conversion) fail. Each of REQUIRED must be exported, so that a lost export mark fails too.
# cmake -DNM=nm -DLIBRARY=file -DHEADERS=file;file [-DENTRY_POINTS=a;b] [-DREQUIRED=a;b] -P CheckExports.cmake
cmake_minimum_required(VERSION 3.25)

# The identifiers of the public headers' code (comments and strings left out).
set(publicNames "")
foreach(header ${HEADERS})
    file(READ ${header} text)
    string(REGEX REPLACE "//[^\n]*" "" text "${text}")
    string(REGEX REPLACE "\"[^\"\n]*\"" "" text "${text}")
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${text}")
    list(APPEND publicNames ${names})
endforeach()
list(REMOVE_DUPLICATES publicNames)

execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} cannot list ${LIBRARY}")
endif()
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
set(internal "")
foreach(line ${lines})
    # "address type name"; the name may have spaces.
    if(NOT line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
        continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    list(APPEND exported "${name}")
    string(REGEX REPLACE "^(typeinfo name for|typeinfo for|vtable for|VTT for|guard variable for|non-virtual thunk to|virtual thunk to) "
                         "" entity "${name}")
    # The qualified name before any template arguments, parameters or ABI tag; a template function's
    # return type comes first and is dropped.
    string(REGEX REPLACE "[<(\\[].*$" "" qualified "${entity}")
    string(REGEX REPLACE "^.* " "" qualified "${qualified}")
    string(REGEX REPLACE "::.*$" "" first "${qualified}")
    # The linker's own symbols: _edata and the like everywhere, __bss_start__ and the like on aarch64.
    if(name IN_LIST ENTRY_POINTS OR first MATCHES "^(std|__gnu_cxx|_edata|_end|__bss_start|_init|_fini)$"
       OR first MATCHES "^(__bss_start__|__bss_end__|_bss_end__|__end__)$"
       OR first MATCHES "^(Q|qt_|__asan|__odr_asan|__sanitizer|__ubsan)")
        continue()
    endif()
    if(NOT first IN_LIST publicNames)
        list(APPEND internal "${name}")
    endif()
endforeach()

if(internal)
    list(JOIN internal "\n  " internal)
    message(FATAL_ERROR "${LIBRARY} exports names that no public header declares:\n  ${internal}")
endif()
foreach(name ${REQUIRED})
    if(NOT name IN_LIST exported)
        message(FATAL_ERROR "${LIBRARY} does not export ${name}")
    endif()
endforeach()
list(LENGTH exported count)
message(STATUS "${LIBRARY}: ${count} exported symbols, all public")
