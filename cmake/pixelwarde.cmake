# pw_runs_under_wine(TEST): on the Windows build, TEST runs Wine programs in the build's prefix,
# under the Wine server that tests/CMakeLists.txt keeps up for the whole CTest run.
function(pw_runs_under_wine name)
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_server)
    set_property(GLOBAL APPEND PROPERTY PW_WINE_TESTS ${name})
  endif()
endfunction()

# pw_add_test(NAME SOURCES... LIBS...) builds one GoogleTest program and registers it with CTest.
# On the Windows build CTest runs it through Wine (the cross-compiling emulator). The release
# build has no GoogleTest and builds none.
function(pw_add_test name)
  if(PW_RELEASE)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gtest_main)
  # The test programs' own code is compiled for debugging, whatever the build's level: its
  # speed does not matter, and the code under test comes from the libraries, built as the
  # preset says.
  target_compile_options(${name} PRIVATE -fexceptions -Og)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  pw_runs_under_wine(${name})
endfunction()
