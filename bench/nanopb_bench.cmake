# nanopb as a peer of the serializer and deserializer (Debian: nanopb for
# the generator, libnanopb-dev for the runtime). The message's .pb.c/.pb.h
# are generated at build time from bench/nanopb_message.proto. Without
# nanopb the program builds as a stub that says so, and is left out of
# the default build.
find_program(ZUB_NANOPB_GENERATOR NAMES nanopb_generator.py nanopb_generator)
find_package(nanopb CONFIG QUIET)
if(ZUB_NANOPB_GENERATOR AND TARGET nanopb::protobuf-nanopb-static)
  set(zub_nanopb_out ${CMAKE_CURRENT_BINARY_DIR}/nanopb)
  add_custom_command(
    OUTPUT ${zub_nanopb_out}/nanopb_message.pb.c ${zub_nanopb_out}/nanopb_message.pb.h
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zub_nanopb_out}
    COMMAND ${ZUB_NANOPB_GENERATOR} -q -D ${zub_nanopb_out} -I ${CMAKE_CURRENT_SOURCE_DIR}
            ${CMAKE_CURRENT_SOURCE_DIR}/nanopb_message.proto
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/nanopb_message.proto
    COMMENT "Generating the nanopb message code")
  target_sources(${name} PRIVATE ${zub_nanopb_out}/nanopb_message.pb.c)
  target_include_directories(${name} PRIVATE ${zub_nanopb_out})
  target_link_libraries(${name} PRIVATE nanopb::protobuf-nanopb-static)
else()
  message(STATUS "nanopb not installed (Debian: nanopb libnanopb-dev): nanopb_bench is a stub")
  target_compile_definitions(${name} PRIVATE ZUB_BENCH_NO_NANOPB)
  set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
