# Installs the tools into a scratch prefix and checks the manual page and the shell completions written by
# the build: installed where man, bash-completion and zsh look, naming every option of pictura --help,
# and the bash completion completing an option.
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DTOOL=... -DMANDIR=... -DDATAROOTDIR=... -P ReferencePages.cmake
cmake_minimum_required(VERSION 3.25)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component Tools
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "installing the tools failed")
endif()
set(man ${prefix}/${MANDIR}/man1/pictura.1)
set(bash ${prefix}/${DATAROOTDIR}/bash-completion/completions/pictura)
set(zsh ${prefix}/${DATAROOTDIR}/zsh/site-functions/_pictura)
foreach(file ${man} ${bash} ${zsh})
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

execute_process(COMMAND ${TOOL} --help OUTPUT_VARIABLE help)
string(REGEX MATCHALL "--[a-z][a-z0-9-]*" options "${help}")
list(REMOVE_DUPLICATES options)
list(REMOVE_ITEM options --name) # "--name=value", the form every option's value may take
file(READ ${man} manText)
string(REPLACE "\\-" "-" manText "${manText}")
file(READ ${bash} bashText)
file(READ ${zsh} zshText)
foreach(option ${options})
    foreach(page manText bashText zshText)
        string(FIND "${${page}}" "${option}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${option} of --help is missing from ${page}")
        endif()
    endforeach()
endforeach()

execute_process(COMMAND bash -c "source '${bash}'; COMP_WORDS=(pictura --greysc); COMP_CWORD=1; _pictura; echo \"\${COMPREPLY[@]}\""
                OUTPUT_VARIABLE completed RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT completed STREQUAL "--greyscale\n")
    message(FATAL_ERROR "bash completed \"--greysc\" as \"${completed}\"")
endif()
list(LENGTH options count)
message(STATUS "${count} options in the manual page and both completions")
