# The Windows exe: a GUI-subsystem program whose entry point is the tool's own
# start-up code, linked without the C runtime start-up files, so that it
# imports only KERNEL32, USER32 and the system's msvcrt.dll.
enable_language(RC)

# Only the libraries named below; not the default list of Win32 import libs.
set(CMAKE_CXX_STANDARD_LIBRARIES "")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The i686 symbol of a WINAPI function without arguments.
  set(TOLV_ENTRY _TolvStartup@0)
  set(TOLV_MANIFEST_ARCH x86)
else()
  set(TOLV_ENTRY TolvStartup)
  set(TOLV_MANIFEST_ARCH amd64)
endif()

# No C runtime to set up a stack guard; each function in its own section, so
# that the linker drops what is not called.
set(TOLV_WIN_CODEGEN -fno-stack-protector -fno-ident -ffunction-sections -fdata-sections)
target_compile_options(tolv_core PRIVATE ${TOLV_WIN_CODEGEN})

# The record's numbers and strings come from project(... VERSION).
configure_file(res/version.h.in ${CMAKE_CURRENT_BINARY_DIR}/res/version.h @ONLY)
# The manifest names the exe and the Common Controls it loads by the exe's
# architecture: with another, Windows does not start it and Wine 8 shows no box.
configure_file(res/tolv.manifest.in ${CMAKE_CURRENT_BINARY_DIR}/res/tolv.manifest @ONLY)
# windres reports no dependencies, so name the files it embeds.
set_source_files_properties(res/tolv.rc PROPERTIES OBJECT_DEPENDS
  "${CMAKE_CURRENT_SOURCE_DIR}/res/tolv.ico;${CMAKE_CURRENT_BINARY_DIR}/res/tolv.manifest")

add_executable(tolv WIN32 src/app/Entry.cpp res/tolv.rc)
target_include_directories(tolv PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_CURRENT_BINARY_DIR}/res>)
target_compile_options(tolv PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TOLV_WARNINGS} ${TOLV_CODEGEN} ${TOLV_WIN_CODEGEN}>)
target_link_libraries(tolv PRIVATE tolv_core)
target_link_options(tolv PRIVATE
  -nostdlib
  -Wl,--entry=${TOLV_ENTRY}
  # A wrong entry symbol would only warn; make it fail the build.
  -Wl,--fatal-warnings
  -Wl,--subsystem,windows
  -Wl,--gc-sections
  # No code registers an exception handler (no exceptions, no unwind tables),
  # so the exe says it has none and Windows calls none that points into it.
  # It reads no INI file or registry key that Terminal Server would redirect.
  # ld keeps the base relocations that ASLR needs and writes a valid CheckSum.
  -Wl,--no-seh
  -Wl,--tsaware
  # The exe is stripped; the map keeps the symbol addresses, so the tests can
  # tell that the header's entry point is the entry symbol.
  -Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/tolv.map
  -s)
# Static helpers the compiler may call (libgcc), then the three DLLs.
target_link_libraries(tolv PRIVATE gcc kernel32 user32 msvcrt)
