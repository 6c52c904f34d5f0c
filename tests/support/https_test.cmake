# vntx_https_test(name SOURCES ... DEPS ... [TREE folder]): a GoogleTest program
# that runs under the local HTTPS download server (download_server.py --run),
# which serves a copy of TREE (or an empty folder). One CTest test runs it whole.
find_package(Python3 COMPONENTS Interpreter)
function(vntx_https_test name)
  cmake_parse_arguments(T "" "TREE" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    VNTX_BUILD_INPUT="${PROJECT_BINARY_DIR}/input" VNTX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_dependencies(${name} refdata_files)
  vntx_target_defaults(${name})
  # The server is a host program; the Windows build runs the test under Wine.
  if(Python3_FOUND)
    set(tree)
    if(T_TREE)
      set(tree --tree ${T_TREE})
    endif()
    add_test(NAME ${name}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/support/download_server.py ${tree}
              --run ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES TIMEOUT 180)
  endif()
endfunction()
