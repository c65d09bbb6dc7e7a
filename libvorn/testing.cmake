# vorn_testing: a static copy of the library built from the same sources with VORN_TESTING
# defined, for tests that need the seams of testing.h and for the fuzz target. It is built
# only when something links it; libvorn.so itself has no seams and still exports only VN_.
add_library(vorn_testing STATIC EXCLUDE_FROM_ALL ${VORN_SOURCES})
add_dependencies(vorn_testing vorn_vectors)
set_target_properties(vorn_testing PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
target_compile_definitions(vorn_testing PUBLIC VORN_TESTING)
target_include_directories(vorn_testing PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include ${CMAKE_CURRENT_SOURCE_DIR}
  PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_include_directories(vorn_testing SYSTEM PRIVATE ${FLINT_INCLUDE_DIR} ${FLINT_INCLUDE_DIR}/flint ${PARI_INCLUDE_DIR})
target_link_libraries(vorn_testing PUBLIC PkgConfig::GMP OpenSSL::Crypto ${FLINT_LIBRARY} ${PARI_LIBRARY}
  PRIVATE vorn_version)
target_compile_options(vorn_testing PRIVATE ${VORN_WARNINGS})
