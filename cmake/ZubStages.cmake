# The test command's program-running stages as labelled ctest tests, each in
# the configuration that builds what it runs (CMakePresets.json's workflow
# presets run them):
#
#   label        configuration            what
#   fuzz         fuzz                     every libFuzzer target for
#                                         ZUB_FUZZ_SECONDS from its seed and
#                                         campaign corpora
#   fuzz-replay  armhf-fuzz-replay        every target replays those corpora
#                                         under the cross-compiling emulator
#   valgrind     valgrind (ZUB_VALGRIND)  memcheck over every test program
#   time         valgrind, release        calendar to broken-down time
#                (tools)                  against gmtime_r on a sample
#   bench-table  host                     the benchmark report's table builder
#
# The unit tests, ABI checks and example runs of every build carry no label.

set(ZUB_FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzz target runs in the fuzz stage")
option(ZUB_VALGRIND "Register every test program once more under valgrind memcheck" OFF)

# Seed corpora (fuzz/corpus/<name>/ or <name>_fuzz/) and the campaign's
# corpus (fuzz/campaign/<name>/) of fuzz target <name>, in ${out}.
function(zub_fuzz_corpora name out)
  set(dirs "")
  foreach(dir corpus/${name} corpus/${name}_fuzz campaign/${name})
    if(IS_DIRECTORY ${PROJECT_SOURCE_DIR}/fuzz/${dir})
      list(APPEND dirs ${PROJECT_SOURCE_DIR}/fuzz/${dir})
    endif()
  endforeach()
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

if(ZUB_BUILD_FUZZ OR ZUB_FUZZ_REPLAY OR ZUB_VALGRIND OR ZUB_BUILD_TOOLS)
  enable_testing()
endif()

file(GLOB zub_fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(source IN LISTS zub_fuzz_sources)
  get_filename_component(target ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" name ${target})
  if(NOT TARGET ${target})
    continue()
  endif()
  zub_fuzz_corpora(${name} corpora)
  if(ZUB_BUILD_FUZZ)
    # New inputs go into a scratch directory (the first one named), so the
    # committed corpora stay as they are. Diagnostics are off: the targets
    # capture what they check.
    set(scratch ${PROJECT_BINARY_DIR}/fuzz-stage/${name})
    add_test(NAME fuzz.${name}
      COMMAND sh -c "rm -rf \"$1\" && mkdir -p \"$1\" && shift && exec \"$@\"" sh ${scratch}
              $<TARGET_FILE:${target}> -max_total_time=${ZUB_FUZZ_SECONDS} -max_len=4096
              -rss_limit_mb=2048 -timeout=60 -print_final_stats=1
              -artifact_prefix=${PROJECT_BINARY_DIR}/fuzz-stage/${name}- ${scratch} ${corpora})
    math(EXPR limit "${ZUB_FUZZ_SECONDS} * 3 + 300")
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT ${limit} ENVIRONMENT ZUB_DEBUG=none)
  elseif(ZUB_FUZZ_REPLAY AND corpora)
    # Under the cross-compiling emulator where there is one: the 32-bit size
    # arithmetic meets the inputs the 64-bit fuzzing found interesting.
    add_test(NAME fuzz-replay.${name} COMMAND ${target} ${corpora})
    set_tests_properties(fuzz-replay.${name} PROPERTIES LABELS fuzz-replay TIMEOUT 900 ENVIRONMENT
      "ZUB_DEBUG=none;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  endif()
endforeach()

if(ZUB_VALGRIND AND ZUB_BUILD_TESTS)
  find_program(ZUB_VALGRIND_PROGRAM valgrind REQUIRED)
  # Any memory error or definite leak fails the program's run.
  get_property(zub_test_programs GLOBAL PROPERTY ZUB_TEST_PROGRAMS)
  foreach(name IN LISTS zub_test_programs)
    # The release and deserializer programs replay harnesses that log every
    # block by defining malloc, calloc and free over the C library's; under
    # valgrind's own replacement their log sees nothing and their frees
    # cross heaps. AddressSanitizer covers them in the host stage.
    if(TARGET ${name} AND NOT name MATCHES "^(dealloc|deserializer)_test$")
      add_test(NAME valgrind.${name}
        COMMAND ${ZUB_VALGRIND_PROGRAM} --quiet --error-exitcode=99 --leak-check=full
                --errors-for-leak-kinds=definite --track-origins=yes $<TARGET_FILE:${name}>)
      set_tests_properties(valgrind.${name} PROPERTIES LABELS valgrind TIMEOUT 1800)
    endif()
  endforeach()
endif()

# The full 2^32 sweep takes minutes (tools/time_exhaustive.cpp); every 61st
# input plus both ends of every day meets every second of the day.
if(TARGET time_exhaustive AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME time.gmtime COMMAND time_exhaustive --step 61)
  set_tests_properties(time.gmtime PROPERTIES LABELS time TIMEOUT 1800)
endif()

# A host test build checks the benchmark report's table builder on made-up
# results (it needs no benchmark built).
if(ZUB_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
  find_program(ZUB_PYTHON3 python3 REQUIRED)
  add_test(NAME bench-table COMMAND ${ZUB_PYTHON3} ${PROJECT_SOURCE_DIR}/scripts/bench_table_test.py)
  set_tests_properties(bench-table PROPERTIES LABELS bench-table)
endif()
