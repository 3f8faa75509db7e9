# Warning policy shared by every target of the project.
add_library(kelv_warnings INTERFACE)
target_compile_options(kelv_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wnon-virtual-dtor
    -Woverloaded-virtual -Wmissing-declarations)
if(KELV_WERROR)
    target_compile_options(kelv_warnings INTERFACE -Werror)
endif()
