# fast_public_functions(<header> <out-var>): the names of the functions that <header> declares,
# sorted. A declaration starts at the first column with its return type and has the function's
# name and "(" on its first line, as every declaration of fast.h does; comment lines, struct
# members and preprocessor lines do not. The shared library exports exactly these names, and the
# packaging tests compare its dynamic symbol table with them. Usable from cmake -P scripts.
function(fast_public_functions header out)
    file(STRINGS "${header}" lines REGEX "^[A-Za-z_][A-Za-z0-9_ ]*[ *]+[A-Za-z_][A-Za-z0-9_]*\\(")
    set(names "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^typedef ")
            continue()
        endif()
        string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\(" _ "${line}")
        list(APPEND names "${CMAKE_MATCH_1}")
    endforeach()
    list(SORT names)
    set(${out} ${names} PARENT_SCOPE)
endfunction()
