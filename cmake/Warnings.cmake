# Warnings are errors in every build of the project's own code.
set(KS_WARNING_FLAGS
    -Wall
    -Wextra
    -Wpedantic
    -Wshadow
    -Wnon-virtual-dtor
    -Wcast-align
    -Woverloaded-virtual
    -Wformat=2
    -Wimplicit-fallthrough
    -Werror)

function(ks_set_warnings target)
    target_compile_options(${target} PRIVATE ${KS_WARNING_FLAGS})
endfunction()
