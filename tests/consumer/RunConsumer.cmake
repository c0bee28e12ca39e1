# Installs the build tree into a scratch prefix and builds programs against it the ways a user does, none
# with a language flag of its own: the consumer project here (CMake package, a Designer form through uic),
# and the README's example, extracted from README.md and built and run exactly as printed there, the CMake
# way and the pkg-config way (with the scratch prefix in place of the README's /opt/pictura).
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DGENERATOR=... -DREADME=... -DPHOTO=... [-DWITH_PLUGIN=ON] -P RunConsumer.cmake
cmake_minimum_required(VERSION 3.25)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

# run(What [EXIT code] COMMAND...): runs a command, which must end with the given status (default 0).
function(run what)
    set(expected 0)
    if(ARGV1 STREQUAL "EXIT")
        set(expected ${ARGV2})
        list(REMOVE_AT ARGN 0 1)
    endif()
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result STREQUAL expected)
        message(FATAL_ERROR "${what} ended with ${result}, not ${expected}:\n${output}")
    endif()
    message(STATUS "${what}: ok")
    set(output "${output}" PARENT_SCOPE)
endfunction()

foreach(component Runtime Development)
    run("install ${component}" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component ${component})
endforeach()

# The consumer project, with the Designer plugin when there is one.
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

# example(Name Output): the README block that follows the line "<!-- example: Name -->", with the scratch
# prefix for /opt/pictura.
function(example name output)
    execute_process(
        COMMAND awk -v "marker=<!-- example: ${name} -->"
                "$0 == marker { found = 1; next } found && /^```/ { if (inside) exit; inside = 1; next } inside"
                ${README}
        COMMAND sed "s|/opt/pictura|${prefix}|g"
        OUTPUT_FILE ${output} RESULT_VARIABLE result)
    file(SIZE ${output} size)
    if(NOT result EQUAL 0 OR size EQUAL 0)
        message(FATAL_ERROR "README.md has no example \"${name}\"")
    endif()
endfunction()

foreach(way CMake pkg-config)
    set(dir ${WORK_DIR}/readme-${way})
    file(MAKE_DIRECTORY ${dir})
    example("CMakeLists.txt" ${dir}/CMakeLists.txt)
    example("main.cpp" ${dir}/main.cpp)
    example("run with ${way}" ${dir}/run.sh)
    file(COPY_FILE ${PHOTO} ${dir}/photo.png)
    # As on a machine without a display: no display named, no platform chosen.
    run("README example, ${way} way" ${CMAKE_COMMAND} -E chdir ${dir} ${CMAKE_COMMAND} -E env
        --unset=QT_QPA_PLATFORM --unset=DISPLAY --unset=WAYLAND_DISPLAY sh -ex run.sh)
endforeach()
# Both ways built the same program: the same picture comes out, and errors are caught and reported.
run("the same result both ways" ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/readme-CMake/grey.png
    ${WORK_DIR}/readme-pkg-config/grey.png)
run("the example on a missing file" EXIT 1 ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
    ${WORK_DIR}/readme-CMake/build/myapp ${WORK_DIR}/missing.png)
if(NOT output MATCHES "(^|\n)myapp: [^\n]*missing\\.png")
    message(FATAL_ERROR "the example did not report the missing file:\n${output}")
endif()
