# Cross build for the platform: 32-bit little-endian ARM, hard-float.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_NM arm-linux-gnueabihf-nm CACHE FILEPATH "")
set(CMAKE_READELF arm-linux-gnueabihf-readelf CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
# Every prefix the user names (CMAKE_PREFIX_PATH: an install stage, unpacked
# packages) holds target files: it is a root of its own, searched as it
# stands, not re-rooted under the cross root above.
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  if(NOT prefix IN_LIST CMAKE_FIND_ROOT_PATH)
    list(APPEND CMAKE_FIND_ROOT_PATH ${prefix})
  endif()
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run on the target ABI under user-mode emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
