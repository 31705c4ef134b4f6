# The inflate back end of the input layer: ISA-L where it is installed, zlib otherwise.
# FAST_INFLATE picks one by hand (auto, isal or zlib). The BGZF writer deflates through ISA-L at
# the levels it offers (1 to 3) and through zlib at the others, so zlib is linked in both cases.
# The result is the private target fast_inflate (FAST_HAVE_ISAL defined 0 or 1), and for the
# install rules:
#   FAST_INFLATE_BACKEND      isal or zlib
#   FAST_INFLATE_LINK         what the library `fast` links: the library found, or when installed
#                             its link names FAST_INFLATE_LINK_NAME (isal and z, or z)
#   FAST_INFLATE_PC_MODULE    its pkg-config module (libisal or zlib)
set(FAST_INFLATE auto CACHE STRING "Inflate library of the input layer: auto, isal or zlib")
set_property(CACHE FAST_INFLATE PROPERTY STRINGS auto isal zlib)

set(FAST_INFLATE_BACKEND "")
if(FAST_INFLATE STREQUAL "auto" OR FAST_INFLATE STREQUAL "isal")
    find_path(FAST_ISAL_INCLUDE_DIR isa-l/igzip_lib.h)
    find_library(FAST_ISAL_LIBRARY NAMES isal)
    if(FAST_ISAL_INCLUDE_DIR AND FAST_ISAL_LIBRARY)
        set(FAST_INFLATE_BACKEND isal)
    elseif(FAST_INFLATE STREQUAL "isal")
        message(FATAL_ERROR "FAST_INFLATE=isal, but ISA-L was not found (Debian: libisal-dev)")
    endif()
endif()
if(NOT FAST_INFLATE_BACKEND)
    if(NOT FAST_INFLATE STREQUAL "auto" AND NOT FAST_INFLATE STREQUAL "zlib")
        message(FATAL_ERROR "FAST_INFLATE must be auto, isal or zlib, not '${FAST_INFLATE}'")
    endif()
    find_package(ZLIB REQUIRED)
    set(FAST_INFLATE_BACKEND zlib)
endif()

add_library(fast_inflate INTERFACE)
find_package(ZLIB REQUIRED)
target_include_directories(fast_inflate INTERFACE ${ZLIB_INCLUDE_DIRS})
if(FAST_INFLATE_BACKEND STREQUAL "isal")
    target_include_directories(fast_inflate INTERFACE ${FAST_ISAL_INCLUDE_DIR})
    target_compile_definitions(fast_inflate INTERFACE FAST_HAVE_ISAL=1)
    set(FAST_INFLATE_LINK_NAME isal z)
    set(FAST_INFLATE_PC_MODULE libisal)
    set(FAST_INFLATE_SOURCE codecs/inflate_isal.cpp)
    set(FAST_INFLATE_LINK "$<BUILD_INTERFACE:${FAST_ISAL_LIBRARY}>" "$<INSTALL_INTERFACE:isal>")
else()
    target_compile_definitions(fast_inflate INTERFACE FAST_HAVE_ISAL=0)
    set(FAST_INFLATE_LINK_NAME z)
    set(FAST_INFLATE_PC_MODULE zlib)
    set(FAST_INFLATE_SOURCE codecs/inflate_zlib.cpp)
    set(FAST_INFLATE_LINK "")
endif()
# The build links the libraries found; an installed package names them, for the linker to find.
list(APPEND FAST_INFLATE_LINK "$<BUILD_INTERFACE:ZLIB::ZLIB>" "$<INSTALL_INTERFACE:z>")
message(STATUS "fast: inflate back end ${FAST_INFLATE_BACKEND}")
