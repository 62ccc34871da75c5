# Install rules and the packages: a Debian package from the native build and a
# zip from the Windows one, both at the version given to project().
set(CPACK_PACKAGE_NAME tolvenar)
set(CPACK_PACKAGE_VENDOR "Tolvenar Project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "set the priority of a running process named by its executable")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_SOURCE_GENERATOR "")

# The same commit packs to the same bytes: every time stamp in the packages is
# the last commit's (or SOURCE_DATE_EPOCH's, or outside git the changelog's).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TOLV_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE TOLV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT TOLV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  file(STRINGS packaging/debian/changelog TOLV_SIGNOFF REGEX "^ -- " LIMIT_COUNT 1)
  string(REGEX REPLACE "^.*>  " "" TOLV_SIGNOFF "${TOLV_SIGNOFF}")
  execute_process(COMMAND date -d "${TOLV_SIGNOFF}" +%s
    OUTPUT_VARIABLE TOLV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
# CPack's archives take their member times from it.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/pkg/epoch.cmake
  CONTENT "set(ENV{SOURCE_DATE_EPOCH} ${TOLV_SOURCE_DATE_EPOCH})\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/pkg/epoch.cmake)
# Debug paths are relative to the source folder (gdb started there finds the
# sources), so they and the build ID that hashes them are the same everywhere.
foreach(target tolv_core tolv)
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
endforeach()

if(WIN32)
  # The exe exactly as linked (already stripped): a plain copy, no install-time strip.
  install(PROGRAMS $<TARGET_FILE:tolv> DESTINATION .)
  # Windows users read these in Notepad: CRLF line ends.
  configure_file(packaging/windows/README.txt ${CMAKE_BINARY_DIR}/pkg/README.txt
    @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${CMAKE_BINARY_DIR}/pkg/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/pkg/README.txt ${CMAKE_BINARY_DIR}/pkg/LICENSE.txt
    DESTINATION .)
  # The PE header's time stamp: Debian's mingw-w64 linker takes it from
  # SOURCE_DATE_EPOCH instead of the clock.
  set_property(TARGET tolv PROPERTY CXX_LINKER_LAUNCHER
    ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TOLV_SOURCE_DATE_EPOCH})
  # CPack 3.25 stores the zip's members in directory order, with the packer's
  # uid and times in the local zone: write it again with fixed ones.
  find_program(TOLV_PYTHON3 python3 REQUIRED)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/pkg/sort-zip.cmake @ONLY CONTENT [[
execute_process(COMMAND "@TOLV_PYTHON3@" "@CMAKE_SOURCE_DIR@/packaging/windows/sort-zip.py"
  @TOLV_SOURCE_DATE_EPOCH@ ${CPACK_PACKAGE_FILES} COMMAND_ERROR_IS_FATAL ANY)
]])
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/pkg/sort-zip.cmake)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_PACKAGE_FILE_NAME tolvenar-${PROJECT_VERSION}-win32)
  include(CPack)
  return()
endif()

set(CMAKE_INSTALL_DOCDIR share/doc/tolvenar CACHE PATH "Documentation (DOCDIR)")
include(GNUInstallDirs)
set(TOLV_MAINTAINER "Tolvenar Project <tolvenar@example.org>" CACHE STRING
  "Maintainer of the Debian package, name <address>")

# What `cmake --install` and the .deb share.
install(TARGETS tolv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT bin)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT bin)
# Where bash-completion loads a command's completion from, the first time the
# command is completed (pkg-config's completionsdir of bash-completion).
install(FILES src/platform/linux/tolv.bash-completion RENAME tolv
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT bin)
# What only `cmake --install` puts: the page as written and the license as is.
install(FILES man/tolv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT plain)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT plain)

# What Debian wants instead: page and changelog gzipped without a timestamp, and
# the license inside a machine-readable copyright file.
file(STRINGS packaging/debian/changelog TOLV_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT TOLV_CHANGELOG_TOP MATCHES "^tolvenar \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog needs an entry for ${PROJECT_VERSION} on top")
endif()
file(READ LICENSE TOLV_LICENSE_TEXT)
# The Expat text in copyright-format: from "Permission", each line indented
# by one blank and each empty line a lone dot.
string(REGEX REPLACE "^.*\n(Permission )" "\\1" TOLV_LICENSE_TEXT "${TOLV_LICENSE_TEXT}")
string(STRIP "${TOLV_LICENSE_TEXT}" TOLV_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" TOLV_LICENSE_TEXT "${TOLV_LICENSE_TEXT}")
string(REPLACE "\n" "\n " TOLV_LICENSE_TEXT " ${TOLV_LICENSE_TEXT}")
set(TOLV_DEB_DIR ${CMAKE_BINARY_DIR}/pkg)
configure_file(packaging/debian/copyright.in ${TOLV_DEB_DIR}/copyright @ONLY)
foreach(pair "man/tolv.1:tolv.1.gz" "packaging/debian/changelog:changelog.gz")
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 source)
  list(GET pair 1 gz)
  add_custom_command(OUTPUT ${TOLV_DEB_DIR}/${gz}
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/${source} > ${TOLV_DEB_DIR}/${gz}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND TOLV_DEB_GZ ${TOLV_DEB_DIR}/${gz})
endforeach()
add_custom_target(tolv_deb_files ALL DEPENDS ${TOLV_DEB_GZ})
install(FILES ${TOLV_DEB_DIR}/tolv.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT deb EXCLUDE_FROM_ALL)
install(FILES ${TOLV_DEB_DIR}/copyright ${TOLV_DEB_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)

if(TOLV_TESTS)
  add_subdirectory(tests/pkg)
endif()

set(CPACK_GENERATOR DEB)
# One package of the two components Debian needs.
set(CPACK_COMPONENTS_ALL bin deb)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME tolvenar)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLV_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libsystemd is loaded at run time, to reach a systemd unit's CPUWeight; without
# it only the threads and the session's group change.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libsystemd0)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
tolv looks up the first running process whose executable has the given file
name and sets its priority: one of IDLE, BELOW_NORMAL, NORMAL, ABOVE_NORMAL,
HIGH and REALTIME, or a number, as on Windows, where it comes from. On Linux
each of these stands for a nice value, given to every thread of the process,
and reaches its systemd unit or session group where that is the process's
alone.")
include(CPack)
