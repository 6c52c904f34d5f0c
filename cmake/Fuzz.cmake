# vntx_fuzz_target(name SOURCES ... DEPS ... SEEDS ... [MAX_LEN n])
#
# One reader of outside input under fuzzing. SOURCES define
# LLVMFuzzerTestOneInput. SEEDS are files or folders of real inputs; one that
# starts with "@shared/" lies in the shared data folder (VNTX_SHARED_DIR, else
# beside the checkout) and is skipped when that is absent. Crash inputs found
# later are kept in <this folder>/fuzz/regressions/<name>/.
#
# Every build: <name>_seeds runs every seed, cut and bit-flipped copies of it
# and every regression input through the target as an ordinary test (under
# the sanitizers in the sanitizer builds). VNTX_FUZZ builds also make <name>,
# the libFuzzer program, listed in <build>/fuzz/<name>.target for
# scripts/fuzz.sh.
function(vntx_fuzz_target name)
  cmake_parse_arguments(F "" "MAX_LEN" "SOURCES;DEPS;SEEDS" ${ARGN})
  if(WIN32)
    return()
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 65536)
  endif()
  set(regressions ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions/${name})
  set(targets ${name}_seeds)
  add_executable(${name}_seeds ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/fuzz/seed_main.cpp)
  add_test(NAME ${name}_seeds COMMAND ${name}_seeds ${F_SEEDS} ${regressions})
  set_tests_properties(${name}_seeds PROPERTIES ENVIRONMENT "VNTX_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
                       SKIP_RETURN_CODE 77 LABELS fuzz_seeds)
  if(VNTX_FUZZ)
    list(APPEND targets ${name})
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    list(JOIN F_SEEDS ";" seeds)
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/${name}.target
         CONTENT "exe=$<TARGET_FILE:${name}>\nmax_len=${F_MAX_LEN}\nregressions=${regressions}\nseeds=${seeds}\n")
  endif()
  foreach(exe IN LISTS targets)
    target_link_libraries(${exe} PRIVATE ${F_DEPS})
    target_include_directories(${exe} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    vntx_target_defaults(${exe})
  endforeach()
endfunction()
