# absl::flat_hash_map as a peer (Debian: libabsl-dev).
find_package(absl REQUIRED)
target_link_libraries(${name} PRIVATE absl::flat_hash_map absl::hash)
