# The native port: the tool on the Linux layer of the Win32 subset.
# One file per concern: handles, files under /proc, the walk, liveness
# proofs, full names, process handles, the change of every thread, the
# session's autogroup, the shell.
set(TOLV_LINUX_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Handles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/ProcFiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Walk.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Liveness.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Names.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/ProcessHandle.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/linux/Threads.cpp
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
