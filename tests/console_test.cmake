# End-to-end run of the demo console program with a scripted standard input
# (under the cross-compiling emulator on armhf), with the example message
# library and a library of broken tables for its --lib option.
if(TARGET zubsh)
  find_program(ZUB_BASH_FOR_ZUBSH bash REQUIRED)
  add_library(zubsh_test_tables SHARED ${CMAKE_CURRENT_SOURCE_DIR}/zubsh_tables.c)
  target_include_directories(zubsh_test_tables PRIVATE ${PROJECT_SOURCE_DIR}/include)
  zub_warnings(zubsh_test_tables)
  add_test(NAME zubsh_test
    COMMAND ${ZUB_BASH_FOR_ZUBSH} ${CMAKE_CURRENT_SOURCE_DIR}/zubsh_test.sh $<TARGET_FILE:zubsh>
            ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(zubsh_test PROPERTIES TIMEOUT 120 ENVIRONMENT
    "ZUBSH_USER_LIB=$<TARGET_FILE:sensor-report>;ZUBSH_BAD_LIB=$<TARGET_FILE:zubsh_test_tables>")
endif()
