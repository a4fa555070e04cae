# The hostile tables are spoiled types of the random type model.
target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/serial_random.cpp)
