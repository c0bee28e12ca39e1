# Installs the build tree into a scratch prefix, builds the consumer project against it with CMake,
# runs it, and compiles a small program with the flags of the installed pkg-config file.
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DGENERATOR=... [-DWITH_PLUGIN=ON] -P RunConsumer.cmake
cmake_minimum_required(VERSION 3.25)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result}):\n${output}")
    endif()
    message(STATUS "${what}: ok")
    set(output "${output}" PARENT_SCOPE)
endfunction()

foreach(component Runtime Development)
    run("install ${component}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()
run("configure the consumer" ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH=${prefix})
run("build the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
set(plugin "")
if(WITH_PLUGIN)
    file(GLOB_RECURSE plugin ${prefix}/libPicturaDesigner.so)
    if(NOT plugin)
        message(FATAL_ERROR "the Designer plugin was not installed under ${prefix}")
    endif()
endif()
run("run the consumer" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${WORK_DIR}/build/pictura-consumer --check
    ${plugin})
message(STATUS "${output}")

find_program(PKG_CONFIG pkg-config)
find_program(CXX NAMES c++ g++)
if(PKG_CONFIG AND CXX)
    file(GLOB pcFile ${prefix}/lib*/pkgconfig/pictura.pc ${prefix}/lib/*/pkgconfig/pictura.pc)
    get_filename_component(pcDir "${pcFile}" DIRECTORY)
    run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pcDir} ${PKG_CONFIG} --cflags --libs pictura)
    string(STRIP "${output}" flags)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    file(WRITE ${WORK_DIR}/PkgConfigMain.cpp
         "#include <pictura/KvPictura.h>\n#include <QApplication>\n"
         "int main(int argc, char** argv) { QApplication a(argc, argv); TKvPictura p; return p.Width() < 0; }\n")
    run("compile with pkg-config flags" ${CXX} -std=c++20 ${WORK_DIR}/PkgConfigMain.cpp ${flags}
        -o ${WORK_DIR}/pkgconfig-main)
    get_filename_component(libDir "${pcDir}" DIRECTORY)
    run("run the pkg-config program" ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH=${libDir}
        ${WORK_DIR}/pkgconfig-main)
endif()
