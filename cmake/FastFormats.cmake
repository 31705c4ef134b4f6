# The compressed formats beyond gzip, each read through its own library when the build has it:
# zstd (libzstd), xz (liblzma), bzip2 (libbz2). FAST_ZSTD, FAST_XZ and FAST_BZIP2 are each auto
# (use the library when it is found), on (fail without it) or off; a build without a library
# still recognises its format and refuses it by name. The result is the private target
# fast_formats (its headers, and FAST_HAVE_ZSTD, FAST_HAVE_XZ, FAST_HAVE_BZIP2 defined 0 or 1 for
# the sources and tests), and for the library and the install rules:
#   FAST_FORMAT_SOURCES     the back ends built
#   FAST_FORMAT_LINK        what the library `fast` links: the libraries found, or when installed
#                           their link names
#   FAST_FORMAT_LINK_NAMES  those link names (zstd, lzma, bz2), for fast.pc
add_library(fast_formats INTERFACE)
set(FAST_FORMAT_SOURCES "")
set(FAST_FORMAT_LINK "")
set(FAST_FORMAT_LINK_NAMES "")
set(_fast_formats_read gzip)

# _fast_format(<FORMAT> <source> <header> <link-name> <Debian package>)
function(_fast_format format source header link_name package)
    set(FAST_${format} auto CACHE STRING "Read ${format} data: auto, on or off")
    set_property(CACHE FAST_${format} PROPERTY STRINGS auto on off)
    set(choice ${FAST_${format}})
    if(NOT choice MATCHES "^(auto|on|off)$")
        message(FATAL_ERROR "FAST_${format} must be auto, on or off, not '${choice}'")
    endif()
    set(have 0)
    if(NOT choice STREQUAL "off")
        find_path(FAST_${format}_INCLUDE_DIR ${header})
        find_library(FAST_${format}_LIBRARY NAMES ${link_name})
        if(FAST_${format}_INCLUDE_DIR AND FAST_${format}_LIBRARY)
            set(have 1)
        elseif(choice STREQUAL "on")
            message(FATAL_ERROR "FAST_${format}=on, but ${header} or lib${link_name} was not found"
                                " (Debian: ${package})")
        endif()
    endif()
    target_compile_definitions(fast_formats INTERFACE FAST_HAVE_${format}=${have})
    if(have)
        target_include_directories(fast_formats INTERFACE ${FAST_${format}_INCLUDE_DIR})
        list(APPEND FAST_FORMAT_SOURCES ${source})
        list(APPEND FAST_FORMAT_LINK "$<BUILD_INTERFACE:${FAST_${format}_LIBRARY}>"
                                     "$<INSTALL_INTERFACE:${link_name}>")
        list(APPEND FAST_FORMAT_LINK_NAMES ${link_name})
        string(TOLOWER ${format} name)
        list(APPEND _fast_formats_read ${name})
    endif()
    foreach(var FAST_FORMAT_SOURCES FAST_FORMAT_LINK FAST_FORMAT_LINK_NAMES _fast_formats_read)
        set(${var} ${${var}} PARENT_SCOPE)
    endforeach()
endfunction()

_fast_format(ZSTD codecs/zstd.cpp zstd.h zstd libzstd-dev)
_fast_format(XZ codecs/xz.cpp lzma.h lzma liblzma-dev)
_fast_format(BZIP2 codecs/bzip2.cpp bzlib.h bz2 libbz2-dev)
target_link_libraries(fast_formats INTERFACE ${FAST_FORMAT_LINK})
list(JOIN _fast_formats_read ", " _fast_formats_read)
message(STATUS "fast: reads plain text and ${_fast_formats_read}")
