# Install rules: the command, both libraries and their header, a CMake package (fast::fast,
# fast::fast_shared, fast::fast_static), a pkg-config file and the man page. Everything else the
# build makes stays in the build tree.
include(CMakePackageConfigHelpers)

set(FAST_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/fast
    CACHE STRING "Install directory of the CMake package files, relative to the prefix")
set(FAST_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    CACHE STRING "Install directory of fast.pc, relative to the prefix")

install(TARGETS clean_replace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS fast fast_shared EXPORT fastTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/fast.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES man/clean_replace.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(EXPORT fastTargets
        NAMESPACE fast::
        DESTINATION ${FAST_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/fastConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/fastConfig.cmake
    INSTALL_DESTINATION ${FAST_INSTALL_CMAKEDIR})
# Before 1.0 a minor release may change the interface, so only the same minor version is taken.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/fastConfigVersion.cmake
    COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/fastConfig.cmake
              ${PROJECT_BINARY_DIR}/cmake/fastConfigVersion.cmake
        DESTINATION ${FAST_INSTALL_CMAKEDIR})

# fast.pc finds the prefix from its own place, so `cmake --install --prefix P` into any P and a
# tree moved after installing both give correct paths.
function(_fast_pc_path out dir)
    if(IS_ABSOLUTE "${dir}")
        set(${out} "${dir}" PARENT_SCOPE)
    else()
        set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
    endif()
endfunction()
if(IS_ABSOLUTE "${FAST_INSTALL_PKGCONFIGDIR}")
    set(FAST_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
    string(REGEX MATCHALL "[^/]+" _fast_pc_parts "${FAST_INSTALL_PKGCONFIGDIR}")
    list(LENGTH _fast_pc_parts _fast_pc_depth)
    string(REPEAT "/.." ${_fast_pc_depth} _fast_pc_up)
    set(FAST_PC_PREFIX "\${pcfiledir}${_fast_pc_up}")
endif()
_fast_pc_path(FAST_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
_fast_pc_path(FAST_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
# What a static link needs besides libfast.a: the C++ runtime, the inflate library and the
# libraries of the other compressed formats.
set(_fast_pc_private ${FAST_CXX_RUNTIME_LIBRARIES} ${FAST_INFLATE_LINK_NAME}
                     ${FAST_FORMAT_LINK_NAMES})
list(TRANSFORM _fast_pc_private PREPEND "-l")
list(JOIN _fast_pc_private " " FAST_PC_LIBS_PRIVATE)
configure_file(cmake/fast.pc.in ${PROJECT_BINARY_DIR}/cmake/fast.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cmake/fast.pc DESTINATION ${FAST_INSTALL_PKGCONFIGDIR})
