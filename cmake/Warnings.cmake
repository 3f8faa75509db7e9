# Warning policy shared by every target of the project.
add_library(kelv_warnings INTERFACE)
target_compile_options(kelv_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wnon-virtual-dtor
    -Woverloaded-virtual -Wmissing-declarations)
if(KELV_WERROR)
    target_compile_options(kelv_warnings INTERFACE -Werror)
endif()
# clang's -Wconversion also covers signed/unsigned conversions, which gcc's leaves out in C++
# (-Wsign-conversion). Keep the two compilers' warning sets alike.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(kelv_warnings INTERFACE -Wno-sign-conversion)
endif()
