# fast_cxx_runtime_libraries(<out-var>): the C++ runtime libraries that a program linked by a C
# compiler driver needs for libfast.a, as library names for target_link_libraries() and for a
# pkg-config Libs line. Set FAST_CXX_RUNTIME (a list, possibly empty) to override the guess.
set(FAST_CXX_RUNTIME "" CACHE STRING
    "C++ runtime libraries exported to C consumers of libfast.a (empty: guess from the compiler)")

function(fast_cxx_runtime_libraries out)
    if(FAST_CXX_RUNTIME)
        set(libs ${FAST_CXX_RUNTIME})
    elseif(CMAKE_CXX_COMPILER_ID STREQUAL "AppleClang"
           OR CMAKE_CXX_FLAGS MATCHES "-stdlib=libc\\+\\+")
        set(libs c++)
    elseif(CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
        set(libs stdc++)
    else()
        set(libs "")
    endif()
    set(${out} ${libs} PARENT_SCOPE)
endfunction()
