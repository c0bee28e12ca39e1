# How the project's libraries are built.

# pictura_library_code(Target): code that goes into the shared libraries is compiled with hidden
# visibility, so that only what the export macros mark (VCL40_EXPORT, PICTURAPCK_EXPORT) is exported.
function(pictura_library_code target)
    set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# pictura_shared_library(Target): an installed shared library. Its file name carries the project version
# and its SONAME the major version (libvcl40.so.1): a release that changes the ABI raises it. Its public
# headers compile as C++17, so programs need no newer language level than Qt 6 asks for.
function(pictura_shared_library target)
    set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    target_compile_features(${target} INTERFACE cxx_std_17)
endfunction()
