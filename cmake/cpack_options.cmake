# Read by cpack. Each Debian package takes its whole description, synopsis first, from its
# component; without this CPack puts the project's one summary line in front of all three.
if(CPACK_GENERATOR STREQUAL "DEB")
  unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
endif()
