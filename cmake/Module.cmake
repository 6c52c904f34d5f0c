# Common settings for every target of the project.
function(vntx_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endfunction()

# vntx_module(name SOURCES ... DEPS ...): one static library per module.
function(vntx_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${M_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${M_DEPS})
  vntx_target_defaults(${name})
endfunction()

# vntx_test(name SOURCES ... DEPS ...): a GoogleTest executable registered with CTest.
function(vntx_test name)
  cmake_parse_arguments(T "" "RESOURCE_LOCK" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  vntx_target_defaults(${name})
  if(WIN32)
    target_link_options(${name} PRIVATE -static)
  endif()
  # One environment entry only: gtest_discover_tests splits a list of them
  # into separate arguments. The shared data lies beside the checkout
  # (VNTX_SOURCE_DIR/../shared) unless VNTX_SHARED_DIR says otherwise.
  # RESOURCE_LOCK: tests that share something outside their sandbox run one
  # at a time.
  if(T_RESOURCE_LOCK)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "VNTX_SOURCE_DIR=${PROJECT_SOURCE_DIR}" LABELS "${T_LABELS}"
                 RESOURCE_LOCK ${T_RESOURCE_LOCK})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "VNTX_SOURCE_DIR=${PROJECT_SOURCE_DIR}" LABELS "${T_LABELS}")
  endif()
endfunction()

function(vntx_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_DEPS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  vntx_target_defaults(${name})
endfunction()
