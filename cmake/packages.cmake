# Debian packages with `cpack -G DEB` from the install components: libvorn1 (runtime),
# libvorn-dev (dev) and vorn (programs). The shared-library dependencies come from
# dpkg-shlibdeps, so they name the real Debian runtime packages of this machine.
set(CPACK_PACKAGE_NAME vorn)
set(CPACK_PACKAGE_VENDOR "VORN developers")
set(CPACK_PACKAGE_CONTACT "VORN developers <vorn@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(VORN_WITH_PROGRAMS)
  list(APPEND CPACK_COMPONENTS_ALL programs)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Lets dpkg-shlibdeps see libvorn.so.1 when it looks at the programs; the dependency on
# libvorn1 itself comes from the component dependency below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/libvorn)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvorn${PROJECT_VERSION_MAJOR})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "big-integer and crypto library
VORN keeps huge integers and byte strings in numbered registers: arithmetic,
primality tests and proofs, prime, random and RSA key generation,
Blum-Blum-Shub and RSA bit generators, RSA, AES and SHA-256, over GMP,
OpenSSL, FLINT and PARI, behind a C interface.")
# A shlibs file, so that packages built against libvorn.so.1 depend on libvorn1.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/libvorn1/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvorn-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION "big-integer and crypto library - development files
The C header vorn.h, the C++ binding vorn/vorn.hpp, vorn.pc for pkg-config and
the CMake package (find_package(Vorn) gives the target Vorn::vorn).")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME vorn)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION math)
set(CPACK_COMPONENT_PROGRAMS_DEPENDS runtime)
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION "calculator and test bench for the VORN library
workbench is a calculator for huge numbers, primes, RSA keys, AES and
SHA-256; testbench checks the VORN library with a timed battery of tests and
writes files of its random generators' output. Both run as desktop programs
(Qt) or, with --console, in a terminal.")

include(CPack)
