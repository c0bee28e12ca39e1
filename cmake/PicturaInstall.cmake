# Installing: the host library and the package with their public headers (component Development also
# gets the CMake package configuration and the pkg-config file), the tools, and the Designer plugin
# (installed from package/designer/). The consumer test installs the Runtime and Development parts.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PICTURA_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Pictura")
file(RELATIVE_PATH binToLib "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")

# The versioned files (libvcl40.so.1.0.0 and its SONAME link libvcl40.so.1) are the Runtime part; the
# link that the linker looks for (libvcl40.so) is Development.
install(TARGETS vcl40 PicturaPck EXPORT PicturaTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development)
install(EXPORT PicturaTargets NAMESPACE Pictura:: DESTINATION ${PICTURA_INSTALL_CMAKEDIR} COMPONENT Development)

# Public headers, all in one folder and included as <pictura/X.h>: the framework layer, the control's unit
# and the package's registration.
foreach(part host component package)
    pictura_public_headers(${part} headers)
    install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/pictura COMPONENT Development)
endforeach()

# The tools find the libraries relative to themselves.
foreach(tool pictura pictura-palette pictura-view)
    if(TARGET ${tool})
        set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${binToLib}")
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
    endif()
endforeach()

# The tool's manual page and completions, where man, bash-completion and zsh look for them.
if(TARGET pictura-reference-pages)
    list(GET PICTURA_REFERENCE_FILES 0 manPage)
    list(GET PICTURA_REFERENCE_FILES 1 bashCompletion)
    list(GET PICTURA_REFERENCE_FILES 2 zshCompletion)
    install(FILES ${manPage} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
    install(FILES ${bashCompletion} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
            RENAME pictura COMPONENT Tools)
    install(FILES ${zshCompletion} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/site-functions COMPONENT Tools)
endif()

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/PicturaConfig.cmake.in
    ${PROJECT_BINARY_DIR}/PicturaConfig.cmake INSTALL_DESTINATION ${PICTURA_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PicturaConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PicturaConfig.cmake ${PROJECT_BINARY_DIR}/PicturaConfigVersion.cmake
        DESTINATION ${PICTURA_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config: the prefix is found relative to the .pc file, so the installed tree can be moved.
file(RELATIVE_PATH pcToPrefix "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pictura.pc.in ${PROJECT_BINARY_DIR}/pictura.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pictura.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
