# vorn_testing: the library's objects (vorn_objects, the same as in libvorn.so) as a static
# library, for tests that reach the seams of testing.h and for the fuzz target. It is built
# only when something links it; libvorn.so still exports only VN_.
add_library(vorn_testing STATIC EXCLUDE_FROM_ALL)
target_link_libraries(vorn_testing PUBLIC vorn_objects)
target_include_directories(vorn_testing INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
