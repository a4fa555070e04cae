# The random type and value generator of the serializer tests.
target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/serial_random.cpp)
