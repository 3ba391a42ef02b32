# cmake -DBUILD=FOLDER -DPREFIX=FOLDER -DEXPECTED=bin/NAME -P install_test.cmake
# `cmake --install` of the build puts the program into PREFIX and nothing else: no test
# programs, no GoogleTest headers or libraries.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
file(REMOVE_RECURSE "${PREFIX}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install ended with ${status}:\n${output}")
endif()
if(NOT installed STREQUAL EXPECTED)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${EXPECTED} alone")
endif()
message(STATUS "installed: ${installed}")
