# Project-wide warning set: every target is built with warnings as errors.
function(tolvessa_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wpedantic -Wshadow)
        if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
            # GCC 12 reports false -Wrestrict overlaps inside std::string at -O2 and above
            # (GCC bug 105329).
            target_compile_options(${target} PRIVATE -Wno-restrict)
        endif()
    endif()
endfunction()
