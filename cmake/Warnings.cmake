# Project-wide warning set: every target is built with warnings as errors.
function(tolvessa_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wpedantic -Wshadow)
    endif()
endfunction()
