# The native port: the tool on the Linux layer of the Win32 subset. Each file
# is named after the calls it provides: handles and the last error, the
# process list (Toolhelp) and what it learns of each entry, process handles
# and priority classes, the session's autogroup that the classes reach, the
# shell (command line, notices, exit); ProcFiles holds the /proc helpers
# and error codes they share.
set(TOLV_LINUX_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Handles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/ProcFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Toolhelp.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/ToolhelpEntry.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Process.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Autogroup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Shell.cpp)
add_library(tolv_platform_linux STATIC ${TOLV_LINUX_SOURCES})
target_include_directories(tolv_platform_linux PUBLIC ${TOLV_PLATFORM_INCLUDE})
target_compile_options(tolv_platform_linux PRIVATE ${TOLV_WARNINGS} ${TOLV_CODEGEN})

add_executable(tolv src/app/Entry.cpp src/platform/linux/Main.cpp)
target_compile_options(tolv PRIVATE ${TOLV_WARNINGS} ${TOLV_CODEGEN})
target_link_libraries(tolv PRIVATE tolv_core tolv_platform_linux)
# The port needs nothing of the C++ runtime: without it the process starts
# faster, which a walk of a few milliseconds notices.
target_link_options(tolv PRIVATE -Wl,--as-needed)
# Valgrind 3.19, which the tests run the port under, cannot read the DWARF 5
# that clang 14 writes by default.
foreach(target tolv_core tolv_platform_linux tolv)
  target_compile_options(${target} PRIVATE $<$<CONFIG:Debug,RelWithDebInfo>:-gdwarf-4>)
endforeach()
