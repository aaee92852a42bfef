# Install rules and the Debian package (CPack DEB).
#
#   cmake --install build [--prefix /usr]   bin/twtrim32, bin/mkboard,
#                                           share/man/man1/twtrim32.1,
#                                           share/doc/twtrim32/README.md and copyright
#   (cd build && cpack -G DEB)              twtrim32_<version>_<arch>.deb
#
# scripts/package.sh builds every release artefact, the Windows zip included.
include(GNUInstallDirs)

# The package version follows the program's version text ("-beta1" becomes
# "~beta1" so that the final release sorts after the beta).
string(REPLACE "-" "~" TWTRIM_PACKAGE_VERSION "${TWTRIM_VERSION_TEXT}")

# The manual page carries the version in its title.
configure_file(man/twtrim32.1.in ${PROJECT_BINARY_DIR}/twtrim32.1 @ONLY)

set(TWTRIM_PACKAGE_MAINTAINER "TWTRIM32 maintainers <twtrim32@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The Debian copyright file, in the machine-readable format, made from LICENSE
# so that the licence text stands in one place: its copyright line goes into
# the Copyright field, the rest into the licence paragraph (each line indented
# by one space, an empty line written as " .").
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE TWTRIM_LICENSE_LINES)
set(TWTRIM_LICENSE_BODY "")
foreach(line IN LISTS TWTRIM_LICENSE_LINES)
  if(line MATCHES "^Copyright \\(c\\) (.+)$")
    set(TWTRIM_COPYRIGHT "${CMAKE_MATCH_1}")
  elseif(DEFINED TWTRIM_COPYRIGHT)
    if(line STREQUAL "")
      string(APPEND TWTRIM_LICENSE_BODY " .\n")
    else()
      string(APPEND TWTRIM_LICENSE_BODY " ${line}\n")
    endif()
  endif()
endforeach()
if(NOT DEFINED TWTRIM_COPYRIGHT)
  message(FATAL_ERROR "LICENSE has no 'Copyright (c) ...' line")
endif()
string(REGEX REPLACE "^ \\.\n" "" TWTRIM_LICENSE_BODY "${TWTRIM_LICENSE_BODY}")
string(REGEX REPLACE "\n$" "" TWTRIM_LICENSE_BODY "${TWTRIM_LICENSE_BODY}")
configure_file(packaging/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)

# mkboard writes the sample board the maintenance guide starts with.
install(TARGETS twtrim32 mkboard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/twtrim32.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME twtrim32)
set(CPACK_PACKAGE_VERSION "${TWTRIM_PACKAGE_VERSION}")
set(CPACK_PACKAGE_VENDOR "TWTRIM32")
set(CPACK_PACKAGE_CONTACT "${TWTRIM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "safeguarded message packer for Tarnwick BBS message bases")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The synopsis line is CPACK_PACKAGE_DESCRIPTION_SUMMARY; this is the long text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "TWTRIM32 packs the message base of a Tarnwick bulletin-board system: it purges
the messages marked deleted, rebuilds each conference's PTR, IDX and DAT files
without them and repairs two proven thread defects. /DRYRUN previews a pack
without changing anything; /WRITE stages and verifies the new files, makes a
verified backup, commits by atomic renames and rolls back on any failure.
The board must be offline: the program holds the mail tosser's busy marker as
its lock and checks for callers and the tosser throughout the run.")

find_program(TWTRIM_DPKG dpkg)
if(TWTRIM_DPKG)
  execute_process(COMMAND ${TWTRIM_DPKG} --print-architecture
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

# Debian keeps manual pages compressed; the plain page stays in the install
# tree so that `cmake --install` gives what `man -l` reads directly.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/compress_man_pages.cmake)

include(CPack)

# The package tests run on the native build only.
if(TWTRIM_BUILD_TESTS AND UNIX AND NOT CMAKE_CROSSCOMPILING)
  set(TWTRIM_PACKAGE_TESTS ${PROJECT_SOURCE_DIR}/tests/package)
  add_test(NAME package_deb COMMAND bash ${TWTRIM_PACKAGE_TESTS}/deb_test.sh
                            ${CMAKE_BINARY_DIR})
  add_test(NAME manpage_lint COMMAND bash ${TWTRIM_PACKAGE_TESTS}/manpage_lint_test.sh
                                     ${PROJECT_BINARY_DIR}/twtrim32.1 $<TARGET_FILE:twtrim32>)
  add_test(NAME sample_report
           COMMAND bash ${TWTRIM_PACKAGE_TESTS}/sample_report_test.sh $<TARGET_FILE:twtrim32>
                   $<TARGET_FILE:mkboard> ${PROJECT_SOURCE_DIR}/README.md)
  set_tests_properties(package_deb PROPERTIES SKIP_RETURN_CODE 77)
endif()
