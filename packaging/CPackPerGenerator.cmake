# SPDX-License-Identifier: MIT
# Read by cpack once for each package it makes, with CPACK_GENERATOR the one
# at work: the binary tarball (not the source tarball, which lists no CMake
# project) gets the files of the build's tarball-files folder, the note of
# run-time libraries.
if(CPACK_GENERATOR STREQUAL "TGZ" AND CPACK_INSTALL_CMAKE_PROJECTS AND CPACK_PELLUCOR_TARBALL_FILES)
  set(CPACK_INSTALLED_DIRECTORIES "${CPACK_PELLUCOR_TARBALL_FILES};.")
endif()
