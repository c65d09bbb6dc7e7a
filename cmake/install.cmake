# What `cmake --install` puts under the prefix, in three components that become the three
# Debian packages: runtime (the shared library), dev (headers, pkg-config, CMake package) and
# programs (workbench and testbench with their desktop files).
include(CMakePackageConfigHelpers)

install(TARGETS vorn EXPORT VornTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/libvorn/include/vorn.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
# The C++ binding needs nothing but vorn.h and the standard library, so other programs can
# use it as well: #include <vorn/vorn.hpp>.
install(FILES ${PROJECT_SOURCE_DIR}/vorn/vorn.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vorn COMPONENT dev)

# vorn.pc names the configured prefix; a staged tree is read with PKG_CONFIG_SYSROOT_DIR.
configure_file(${PROJECT_SOURCE_DIR}/cmake/vorn.pc.in ${PROJECT_BINARY_DIR}/vorn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vorn.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

set(VORN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vorn)
install(EXPORT VornTargets NAMESPACE Vorn:: DESTINATION ${VORN_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VornConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VornConfig.cmake INSTALL_DESTINATION ${VORN_CMAKE_DIR})
# Same major version, same ABI.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VornConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VornConfig.cmake ${PROJECT_BINARY_DIR}/VornConfigVersion.cmake
  DESTINATION ${VORN_CMAKE_DIR} COMPONENT dev)

if(VORN_WITH_PROGRAMS)
  # The programs find the library beside them in the installed tree, wherever the tree lies;
  # no build folder reaches the installed binaries.
  file(RELATIVE_PATH VORN_BIN_TO_LIB /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(workbench testbench PROPERTIES INSTALL_RPATH "$ORIGIN/${VORN_BIN_TO_LIB}")
  install(TARGETS workbench testbench RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
endif()
