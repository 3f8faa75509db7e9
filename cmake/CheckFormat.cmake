# Fails when a C++ source of the project differs from what clang-format makes of it.
file(GLOB_RECURSE files ${ROOT}/Sources/*.h ${ROOT}/Sources/*.cpp ${ROOT}/Tests/*.h
     ${ROOT}/Tests/*.cpp ${ROOT}/Tools/*.h ${ROOT}/Tools/*.cpp ${ROOT}/Bench/*.h
     ${ROOT}/Bench/*.cpp ${ROOT}/Harness/*.h ${ROOT}/Harness/*.cpp)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${files}
                WORKING_DIRECTORY ${ROOT} RESULT_VARIABLE rc ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Sources not formatted (run clang-format -i):\n${out}")
endif()
message(STATUS "formatting: clean")
