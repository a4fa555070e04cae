# End-to-end run of the demo console program with a scripted standard input
# (under the cross-compiling emulator on armhf).
if(TARGET zubsh)
  find_program(ZUB_BASH_FOR_ZUBSH bash REQUIRED)
  add_test(NAME zubsh_test
    COMMAND ${ZUB_BASH_FOR_ZUBSH} ${CMAKE_CURRENT_SOURCE_DIR}/zubsh_test.sh $<TARGET_FILE:zubsh>
            ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(zubsh_test PROPERTIES TIMEOUT 120)
endif()
