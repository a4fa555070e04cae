# XDR from libtirpc as the peer of the deserializer.
find_path(ZUB_TIRPC_INCLUDE rpc/xdr.h PATH_SUFFIXES tirpc REQUIRED)
find_library(ZUB_TIRPC_LIBRARY tirpc REQUIRED)
target_include_directories(${name} PRIVATE ${ZUB_TIRPC_INCLUDE})
target_link_libraries(${name} PRIVATE ${ZUB_TIRPC_LIBRARY})
