# The native port: the tool on the Linux layer of the Win32 subset. Each file
# is named after what it provides, has a header of that name where other files
# call it (MessageBox.cpp and Main.cpp give only what Win32Api.h and the C
# runtime declare), and gives the functions other files call its name as
# prefix (Proc_ReadStat in Proc.cpp); the Win32 functions the tool calls keep
# their own names. In order: handles
# and the last error, errno's Win32 codes, the /proc readers, the process
# list (Toolhelp) with the liveness and executable name of its entries,
# process handles and priority classes with the class table, the groups the
# classes reach (the rule that guards them and its verdicts, the choice of
# group, the session's autogroup, the systemd unit and the bus to its
# manager), the command line, the notices; Main.cpp holds the entry and exit.
set(TOLV_LINUX_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Handle.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/ErrorCode.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Proc.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Toolhelp.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Liveness.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/ExeName.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Process.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Classes.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/GroupRule.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Verdicts.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/CompetingGroup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/SessionGroup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/UnitWeight.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Bus.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Arguments.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/MessageBox.cpp)

# The walk calls small helpers across files and libraries (a name's folding
# in the tool, the /proc helpers in the layer) once per process: linked as
# one optimised whole, the helpers are inlined and a walk costs about a fifth
# fewer instructions. So the port is built from the sources, not from the
# tool's library, with link-time optimisation through clang's linker plugin,
# which Debian's clang package brings. Full, not thin: ThinLTO names the
# helpers it exports after a hash of each object's path, which would put the
# build folder into the symbol table and the build ID.
add_executable(tolv src/app/Entry.cpp src/platform/linux/Main.cpp ${TOLV_CORE_SOURCES} ${TOLV_LINUX_SOURCES})
target_include_directories(tolv PRIVATE ${TOLV_CORE_INCLUDES})
set(TOLV_LTO $<IF:$<CXX_COMPILER_ID:Clang>,-flto=full,-flto>)
target_compile_options(tolv PRIVATE ${TOLV_WARNINGS} ${TOLV_CODEGEN} ${TOLV_LTO})
target_link_options(tolv PRIVATE ${TOLV_LTO})
# The port needs nothing of the C++ runtime: without it the process starts
# faster, which a walk of a few milliseconds notices.
target_link_options(tolv PRIVATE -Wl,--as-needed)
# Valgrind 3.19, which the tests run the port under, cannot read the DWARF 5
# that clang 14 writes by default.
foreach(target tolv_core tolv)
  target_compile_options(${target} PRIVATE $<$<CONFIG:Debug,RelWithDebInfo>:-gdwarf-4>)
endforeach()

# The bash completion, with the priority words it offers after the name read
# from the parser's table of keywords, in its order, so that they stand once.
set(TOLV_KEYWORD_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/src/app/ParseCommandTail.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TOLV_KEYWORD_SOURCE})
file(READ ${TOLV_KEYWORD_SOURCE} keyword_source)
string(REGEX MATCH "PriorityKeywords\\[\\] = {[^;]*};" keyword_table "${keyword_source}")
string(REGEX MATCHALL "{\"[^\"]+\"," TOLV_PRIORITY_WORDS "${keyword_table}")
string(REGEX REPLACE "[{\",]" "" TOLV_PRIORITY_WORDS "${TOLV_PRIORITY_WORDS}")
list(JOIN TOLV_PRIORITY_WORDS " " TOLV_PRIORITY_WORDS)
if(TOLV_PRIORITY_WORDS STREQUAL "")
  message(FATAL_ERROR "No {\"NAME\", CLASS} found in PriorityKeywords[] of ${TOLV_KEYWORD_SOURCE}: "
    "the bash completion would offer no priority word")
endif()
# Where the tests and the install rule take it from.
set(TOLV_COMPLETION ${CMAKE_BINARY_DIR}/tolv.bash-completion)
configure_file(src/platform/linux/tolv.bash-completion.in ${TOLV_COMPLETION} @ONLY)
