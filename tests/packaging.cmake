# Tests of the packaging area: install the build into a scratch prefix once (fixture
# fast_installed), then build programs against that tree the ways a user would: find_package from
# C and from C++, and a plain compiler command line from pkg-config, each with the shared and with
# the static library. The C program is the example in examples/; every program's output is
# compared with the expected output in tests/consumer/, and the library it runs with is checked:
# libfast.so from the scratch prefix, or none. The shared library's exports are checked against
# the functions of the installed fast.h.
if(NOT FAST_INSTALL)
    return()
endif()

set(_pkg_dir ${CMAKE_CURRENT_SOURCE_DIR}/consumer)
set(_pkg_work ${CMAKE_CURRENT_BINARY_DIR}/packaging)
set(_pkg_prefix ${_pkg_work}/prefix)
set(_pkg_libdir ${_pkg_prefix}/${CMAKE_INSTALL_LIBDIR})
set(_pkg_example_args "${PROJECT_SOURCE_DIR}/examples/reads.fq")

# Consumers are built with the project's compilers, warnings as errors, and under the sanitizers
# when the library was (its objects need the sanitizer runtime).
set(_pkg_c_flags "-Wall -Wextra -Wpedantic -Werror")
set(_pkg_cxx_flags "${_pkg_c_flags}")
if(FAST_SANITIZE)
    string(APPEND _pkg_c_flags " -fsanitize=address,undefined -fno-sanitize-recover=all")
    string(APPEND _pkg_cxx_flags " -fsanitize=address,undefined -fno-sanitize-recover=all")
endif()
set(_pkg_build_type ${CMAKE_BUILD_TYPE})
if(NOT _pkg_build_type)
    set(_pkg_build_type Release)
endif()

add_test(NAME packaging.install
         COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DPREFIX=${_pkg_prefix}
                 -DCONFIG=$<CONFIG> -P ${_pkg_dir}/install.cmake)
set_tests_properties(packaging.install PROPERTIES FIXTURES_SETUP fast_installed)

set(_pkg_expected_files
    ${CMAKE_INSTALL_BINDIR}/clean_replace
    ${CMAKE_INSTALL_INCLUDEDIR}/fast.h
    ${CMAKE_INSTALL_LIBDIR}/libfast.a
    ${CMAKE_INSTALL_LIBDIR}/libfast.so
    ${CMAKE_INSTALL_LIBDIR}/libfast.so.${FAST_SOVERSION}
    ${CMAKE_INSTALL_LIBDIR}/libfast.so.${PROJECT_VERSION}
    ${FAST_INSTALL_CMAKEDIR}/fastConfig.cmake
    ${FAST_INSTALL_CMAKEDIR}/fastConfigVersion.cmake
    ${FAST_INSTALL_CMAKEDIR}/fastTargets.cmake
    ${FAST_INSTALL_CMAKEDIR}/fastTargets-<config>.cmake
    ${FAST_INSTALL_PKGCONFIGDIR}/fast.pc
    ${CMAKE_INSTALL_MANDIR}/man1/clean_replace.1)
list(JOIN _pkg_expected_files "|" _pkg_expected_files)
add_test(NAME packaging.installed_files
         COMMAND ${CMAKE_COMMAND} -DPREFIX=${_pkg_prefix} "-DEXPECTED=${_pkg_expected_files}"
                 -P ${_pkg_dir}/installed_files.cmake)
set_tests_properties(packaging.installed_files PROPERTIES FIXTURES_REQUIRED fast_installed)

add_test(NAME packaging.shared_exports
         COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM}
                 -DHEADER=${_pkg_prefix}/${CMAKE_INSTALL_INCLUDEDIR}/fast.h
                 -DSHARED=${_pkg_libdir}/libfast.so -DSTATIC=${_pkg_libdir}/libfast.a
                 -P ${_pkg_dir}/exports.cmake)
set_tests_properties(packaging.shared_exports PROPERTIES FIXTURES_REQUIRED fast_installed)

# fast_add_cmake_consumer(NAME SOURCE_DIR PROGRAM EXPECTED_FILE ARGS shared|static [-Dvar=value...]):
# configure (with the extra definitions), build and run one consumer project.
function(fast_add_cmake_consumer name source_dir program expected args linkage)
    set(configure_args ${ARGN}
        -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
        -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
        "-DCMAKE_C_FLAGS=${_pkg_c_flags}"
        "-DCMAKE_CXX_FLAGS=${_pkg_cxx_flags}"
        -DFAST_EXAMPLES_DIR=${PROJECT_SOURCE_DIR}/examples
        -DFAST_EXPECTED_VERSION=${PROJECT_VERSION})
    if(CMAKE_MAKE_PROGRAM)
        list(APPEND configure_args -DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM})
    endif()
    list(JOIN configure_args "|" configure_args)
    add_test(NAME ${name}
             COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${source_dir}
                     -DBINARY_DIR=${_pkg_work}/${name} -DPREFIX=${_pkg_prefix}
                     -DLIBDIR=${_pkg_libdir} "-DGENERATOR=${CMAKE_GENERATOR}"
                     -DBUILD_TYPE=${_pkg_build_type} -DPROGRAM=${program} -DEXPECTED=${expected}
                     "-DARGS=${args}" -DLINKAGE=${linkage} -DSOVERSION=${FAST_SOVERSION}
                     "-DCONFIGURE_ARGS=${configure_args}" -P ${_pkg_dir}/cmake_consumer.cmake)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED fast_installed TIMEOUT 300)
endfunction()

# The C example takes fast::fast: the shared library, or the static one with FAST_USE_STATIC_LIBS;
# the C++ program names fast::fast_static.
fast_add_cmake_consumer(packaging.find_package_c ${_pkg_dir}/c decode_fastq
                        ${_pkg_dir}/decode_fastq.expected "${_pkg_example_args}" shared)
fast_add_cmake_consumer(packaging.find_package_c_static ${_pkg_dir}/c decode_fastq
                        ${_pkg_dir}/decode_fastq.expected "${_pkg_example_args}" static
                        -DFAST_USE_STATIC_LIBS=ON)
# The streaming example reads the example file as both files of a pair.
fast_add_cmake_consumer(packaging.find_package_c_stream ${_pkg_dir}/c stream_fastq
                        ${_pkg_dir}/stream_fastq_pair.expected
                        "${_pkg_example_args}|${_pkg_example_args}" shared)
# The copying example writes the example file to standard output, linked with the static
# library, which must bring the compression libraries of the writer too.
fast_add_cmake_consumer(packaging.find_package_c_copy ${_pkg_dir}/c fastq_copy
                        ${_pkg_dir}/fastq_copy.expected "${_pkg_example_args}|-" static
                        -DFAST_USE_STATIC_LIBS=ON)
fast_add_cmake_consumer(packaging.find_package_cxx ${_pkg_dir}/cxx consumer_cxx
                        ${_pkg_dir}/cxx.expected "" static)

find_program(FAST_PKG_CONFIG NAMES pkg-config pkgconf)
# Each C example from pkg-config; the decoding one with the shared and the static library.
foreach(_linkage shared static stream)
    set(_name packaging.pkg_config_c)
    set(_example decode_fastq)
    if(_linkage STREQUAL "static")
        string(APPEND _name _static)
    elseif(_linkage STREQUAL "stream")
        string(APPEND _name _stream)
        set(_example stream_fastq)
        set(_linkage shared)
    endif()
    add_test(NAME ${_name}
             COMMAND ${CMAKE_COMMAND} -DPKG_CONFIG=${FAST_PKG_CONFIG}
                     -DPKGCONFIG_DIR=${_pkg_prefix}/${FAST_INSTALL_PKGCONFIGDIR}
                     -DCC=${CMAKE_C_COMPILER} "-DCFLAGS=${_pkg_c_flags}"
                     -DSOURCE=${PROJECT_SOURCE_DIR}/examples/${_example}.c
                     -DBINARY_DIR=${_pkg_work}/${_name}
                     -DEXPECTED=${_pkg_dir}/${_example}.expected
                     -DEXPECTED_VERSION=${PROJECT_VERSION} "-DARGS=${_pkg_example_args}"
                     -DLINKAGE=${_linkage} -DSOVERSION=${FAST_SOVERSION}
                     -P ${_pkg_dir}/pkg_config_consumer.cmake)
    set_tests_properties(${_name} PROPERTIES FIXTURES_REQUIRED fast_installed TIMEOUT 300)
endforeach()

find_program(FAST_GROFF groff)
find_program(FAST_MANDOC mandoc)
add_test(NAME packaging.man_page_renders
         COMMAND ${CMAKE_COMMAND} -DGROFF=${FAST_GROFF} -DMANDOC=${FAST_MANDOC} -DREQUIRED=ON
                 -DPAGE=${PROJECT_SOURCE_DIR}/man/clean_replace.1
                 -P ${PROJECT_SOURCE_DIR}/cmake/CheckManPage.cmake)
