# Debian packages with CPack's DEB generator, one per install component:
#   libzub-vorn                     runtime   the shared object (SONAME libzub-vorn.so)
#   libzub-vorn-dev                 dev       headers, CMake package, pkg-config file
#   libzub-vorn-platform-standins   standins  libzub-debug.so, libzub-osal-common.so
# The stand-ins are a package of their own so that a target with the
# platform's real libraries never installs them: the library depends on the
# virtual package libzub-platform-libs, which the stand-ins provide and the
# platform's own package can provide too. All three are "Multi-Arch: same"
# (cmake/ZubDebMultiArch.cmake), so the packages of several architectures
# install side by side.
# scripts/package.sh configures with CMAKE_INSTALL_PREFIX=/usr and the
# multiarch library directory, once natively and once with the armhf
# toolchain, and runs cpack. Depends of the binary packages come from
# dpkg-shlibdeps at packaging time (cmake/ZubCPackProject.cmake.in).

set(ZUB_DEB_RELEASE 1)
set(ZUB_DEB_VERSION ${PROJECT_VERSION}-${ZUB_DEB_RELEASE})

# The Debian architecture of what this build makes, from the compiler's
# multiarch triplet, so that a cross build is labelled armhf, not the
# machine's own architecture.
execute_process(COMMAND ${CMAKE_C_COMPILER} -print-multiarch
  OUTPUT_VARIABLE ZUB_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(ZUB_DEB_ARCH "")
if(ZUB_MULTIARCH)
  execute_process(COMMAND dpkg-architecture -t${ZUB_MULTIARCH} -qDEB_HOST_ARCH
    OUTPUT_VARIABLE ZUB_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT ZUB_DEB_ARCH)
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE ZUB_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

# Every package carries the copyright file and the changelog in its doc
# folder (gzip -n: no name or time stamp, so rebuilt packages are equal).
set(ZUB_DEB_DIR ${PROJECT_SOURCE_DIR}/cmake/deb)
execute_process(COMMAND gzip -9nc ${ZUB_DEB_DIR}/changelog
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZUB_DEB_DIR}/changelog)
set(ZUB_DEB_NAME_runtime libzub-vorn)
set(ZUB_DEB_NAME_dev libzub-vorn-dev)
set(ZUB_DEB_NAME_standins libzub-vorn-platform-standins)
foreach(component runtime dev standins)
  install(FILES ${ZUB_DEB_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZUB_DEB_NAME_${component}}
    COMPONENT ${component})
endforeach()
# The two packages of libraries without a versioned name say why.
foreach(component runtime standins)
  install(FILES ${ZUB_DEB_DIR}/${ZUB_DEB_NAME_${component}}.lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${ZUB_DEB_NAME_${component}}
    COMPONENT ${component})
endforeach()

# symbols control file of the library: every exported name, from the export
# lists. All of them exist since the first packaged version; a name added
# later gets the version that added it here.
set(ZUB_DEB_SYMBOLS "libzub-vorn.so libzub-vorn #MINVER#\n* Build-Depends-Package: libzub-vorn-dev\n")
file(STRINGS ${PROJECT_BINARY_DIR}/zub-vorn.exports ZUB_EXPORTED_NAMES)
foreach(name IN LISTS ZUB_EXPORTED_NAMES)
  if(name)
    string(APPEND ZUB_DEB_SYMBOLS " ${name}@Base ${PROJECT_VERSION}\n")
  endif()
endforeach()
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/deb/runtime/symbols CONTENT "${ZUB_DEB_SYMBOLS}")
# ldconfig runs once per dpkg run for packages that put libraries in its path.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/deb/runtime/triggers CONTENT "activate-noawait ldconfig\n")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/deb/standins/triggers CONTENT "activate-noawait ldconfig\n")

set(CPACK_PACKAGE_NAME zub-vorn)
set(CPACK_PACKAGE_VENDOR "libzub-vorn developers")
set(CPACK_PACKAGE_CONTACT "libzub-vorn developers <zub-vorn@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev standins)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZUB_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZUB_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzub-vorn)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/deb/runtime/symbols ${PROJECT_BINARY_DIR}/deb/runtime/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "support library of the embedded platform
libzub-vorn.so offers C programs a resumable, table-driven big-endian
serializer and deserializer, a hierarchical bitmask, containers (vector,
sorted id list, byte ring buffer, scatter-gather lists, open hash table,
linked and string lists), UTC time conversion and a stdin console thread.

It needs the platform's libzub-debug.so and libzub-osal-common.so through
the virtual package libzub-platform-libs: on the target the platform's own
package provides it, elsewhere libzub-vorn-platform-standins does.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzub-vorn-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libzub-vorn (= ${ZUB_DEB_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "support library of the embedded platform - development files
Headers of libzub-vorn (every one compiles as C99 and C++), the CMake
package (find_package(zubvorn), target zubvorn::zub-vorn) and the
pkg-config file zub-vorn.")

set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME libzub-vorn-platform-standins)
set(CPACK_DEBIAN_STANDINS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_STANDINS_PACKAGE_PROVIDES libzub-platform-libs)
set(CPACK_DEBIAN_STANDINS_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/standins/triggers)
set(CPACK_COMPONENT_STANDINS_DESCRIPTION "stand-ins for the platform libraries libzub-vorn needs
Small replacements for the platform's libzub-debug.so (diagnostics to
standard error, sites chosen with ZUB_DEBUG) and libzub-osal-common.so
(backtraces, named threads, command-line splitting), with exactly the
interface libzub-vorn uses. For machines without the platform's own
libraries; never install it on the target.")

# Depends on the C library are worked out by dpkg-shlibdeps when cpack runs.
set(ZUB_SHLIBDEPS_DIRS ${PROJECT_BINARY_DIR})
if(CMAKE_CROSSCOMPILING AND CMAKE_FIND_ROOT_PATH)
  foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
    list(APPEND ZUB_SHLIBDEPS_DIRS ${root}/lib)
  endforeach()
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/ZubCPackProject.cmake.in
  ${PROJECT_BINARY_DIR}/ZubCPackProject.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/ZubCPackProject.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/ZubDebMultiArch.cmake)
include(CPack)
