# The benchmark silences the diagnostics stand-in through its test interface.
target_link_libraries(${name} PRIVATE zub-debug Threads::Threads)
