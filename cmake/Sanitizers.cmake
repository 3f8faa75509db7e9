# Sanitizer and fuzzer instrumentation applied to the whole build tree.
# KELV_FUZZ implies KELV_SANITIZE: one clang build then holds both the unit tests and the
# libFuzzer targets, all under AddressSanitizer + UndefinedBehaviorSanitizer (Tests/Fuzz adds
# the coverage instrumentation to the product library).
if(KELV_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "KELV_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    set(KELV_SANITIZE ON)
endif()
if(KELV_SANITIZE)
    add_compile_options(-fsanitize=address,undefined,float-cast-overflow
                        -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined,float-cast-overflow
                     -fno-sanitize-recover=all)
endif()
# ThreadSanitizer cannot be combined with AddressSanitizer: it gets a build of its own.
if(KELV_TSAN)
    if(KELV_SANITIZE)
        message(FATAL_ERROR "KELV_TSAN and KELV_SANITIZE/KELV_FUZZ need separate builds")
    endif()
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()
