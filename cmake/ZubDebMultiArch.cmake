# Run by cpack after it has written the packages (CPACK_POST_BUILD_SCRIPTS):
# marks each one "Multi-Arch: same", a field cpack's DEB generator cannot
# write, so that the packages of several architectures install side by side.
# Their architecture-dependent files lie under the multiarch library
# directory; the files they share (headers, documentation, lintian
# overrides) are equal for every architecture.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  set(tree "${deb}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb -R "${deb}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(READ "${tree}/DEBIAN/control" control)
  if(NOT control MATCHES "\nMulti-Arch:")
    string(REPLACE "\nPackage:" "\nMulti-Arch: same\nPackage:" control "${control}")
    file(WRITE "${tree}/DEBIAN/control" "${control}")
  endif()
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build "${tree}" "${deb}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endforeach()
