# The counting allocator records of the tests.
target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp)
target_compile_definitions(${name} PRIVATE ZUB_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
