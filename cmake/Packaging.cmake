# Install rules, and the Windows zip. The Debian package is built from the
# source package that scripts/package.sh makes (debian/).

# Debug paths are relative to the source folder (gdb started there finds the
# sources), so they and the build ID that hashes them are the same everywhere.
foreach(target tolv_core tolv)
  target_compile_options(${target} PRIVATE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
endforeach()

if(WIN32)
  # The same commit packs to the same bytes: the exe's and the zip's time
  # stamps are SOURCE_DATE_EPOCH, else the last commit's time, else (in a
  # tarball made by git archive) that of the files.
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(TOLV_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
  else()
    execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
      OUTPUT_VARIABLE TOLV_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  if(NOT TOLV_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    file(TIMESTAMP ${CMAKE_SOURCE_DIR}/CMakeLists.txt TOLV_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
  # The PE header's time stamp: Debian's mingw-w64 linker takes it from
  # SOURCE_DATE_EPOCH instead of the clock.
  set_property(TARGET tolv PROPERTY CXX_LINKER_LAUNCHER
    ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TOLV_SOURCE_DATE_EPOCH})
  # Windows users read these in Notepad: CRLF line ends.
  configure_file(packaging/windows/README.txt ${CMAKE_BINARY_DIR}/pkg/README.txt
    @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE ${CMAKE_BINARY_DIR}/pkg/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  # The exe exactly as linked (already stripped) and the two texts.
  find_program(TOLV_PYTHON3 python3 REQUIRED)
  set(TOLV_ZIP ${CMAKE_BINARY_DIR}/tolvenar-${PROJECT_VERSION}-win32.zip)
  add_custom_command(OUTPUT ${TOLV_ZIP}
    COMMAND ${TOLV_PYTHON3} ${CMAKE_SOURCE_DIR}/packaging/windows/zip.py ${TOLV_SOURCE_DATE_EPOCH} ${TOLV_ZIP}
      tolv.exe=$<TARGET_FILE:tolv> README.txt=pkg/README.txt LICENSE.txt=pkg/LICENSE.txt
    DEPENDS tolv ${CMAKE_SOURCE_DIR}/packaging/windows/zip.py
      ${CMAKE_BINARY_DIR}/pkg/README.txt ${CMAKE_BINARY_DIR}/pkg/LICENSE.txt
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
  add_custom_target(tolv_zip DEPENDS ${TOLV_ZIP})
  return()
endif()

set(CMAKE_INSTALL_DOCDIR share/doc/tolvenar CACHE PATH "Documentation (DOCDIR)")
include(GNUInstallDirs)
install(TARGETS tolv RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES man/tolv.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Where bash-completion loads a command's completion from, the first time the
# command is completed (pkg-config's completionsdir of bash-completion).
install(FILES ${TOLV_COMPLETION} RENAME tolv
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

if(TOLV_TESTS)
  add_subdirectory(tests/pkg)
endif()
