# SPDX-License-Identifier: MIT
# Packages: a Debian package and a tarball of the Linux build, a zip of the
# Windows build, and a source tarball. The version is the project's.
#
#   cpack --config build/CPackConfig.cmake -G DEB      (configure with -DCMAKE_INSTALL_PREFIX=/usr)
#   cpack --config build/CPackConfig.cmake -G TGZ
#   cpack --config build-windows/CPackConfig.cmake -G ZIP
#   cmake --build build --target package_source
set(CPACK_PACKAGE_NAME pellucor)
set(CPACK_PACKAGE_VENDOR "The Pellucor authors")
set(CPACK_PACKAGE_CONTACT "The Pellucor authors <pellucor@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Pellucor turns a numbered sequence of TGA frames (true color, gray or\n"
       "color-mapped, raw or run-length compressed), PNG frames (every color\n"
       "type and bit depth) or JPEG frames (baseline or progressive, color or\n"
       "gray), mixed as they come, into one headerless file of 16-bit pixel\n"
       "words, frames back to back, that a player on a small display streams\n"
       "straight from the file, or into a compressed PLV file that a small\n"
       "player decodes as it reads. It fails loudly on a missing, broken or\n"
       "wrong-sized frame and never writes over one of its own input frames.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
endif()

set(CPACK_DEBIAN_PACKAGE_NAME pellucor)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian wants root-owned files and directories without group write.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The tarball has no field for its dependencies, as a .deb has: it carries
# the note of run-time libraries that packaging/RunTimeLibraries.cmake wrote
# when the tool was configured. Only the tarball: the .deb's dependencies
# say it, and the zip links statically.
if(NOT WIN32)
  set(CPACK_PELLUCOR_TARBALL_FILES ${PROJECT_BINARY_DIR}/tarball-files)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackPerGenerator.cmake)
endif()

# The source tarball: what git tracks, without build trees and run outputs.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME pellucor-${PROJECT_VERSION}-source)
set(CPACK_SOURCE_IGNORE_FILES
    "/\\\\.git/" "/\\\\.git$" "/build[^/]*/" "/build[^/]*$" "/fuzz-corpus/" "/[^/]*\\\\.raw$"
    "/_CPack_Packages/" "/[^/]*\\\\.(deb|zip|tar\\\\.gz|sha256)$" "/__pycache__/")

include(CPack)
