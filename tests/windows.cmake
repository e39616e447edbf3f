# The test programs of the Windows build. They run under Wine: the win64
# preset names scripts/wine-run.sh as the emulator, so ctest starts every
# program through it (scripts/test-windows.sh runs them). GoogleTest is
# built here from Debian's source (/usr/src/googletest) for the target.
#
# A program is one folder's tests, as on Linux, less the files that cannot
# apply on Windows; each exclusion below says why. Further programs are
# added with orvanta_add_windows_test(<name> <sources>...).

set(ORVANTA_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source (Debian: googletest)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${ORVANTA_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

function(orvanta_add_windows_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE orvanta_core orvanta_fakes gtest gmock gtest_main orvanta_warnings)
  orvanta_test_program_setup(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS ${name} TIMEOUT 300)
endfunction()

# Byte strings and code pages. Left out:
#   posix_locale_test.cpp  builds a Polish locale with glibc's localedef.
file(GLOB util_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/util/*.cpp)
list(FILTER util_tests EXCLUDE REGEX "/posix_locale_test\\.cpp$")
orvanta_add_windows_test(test_util ${util_tests})

# The job engine. Left out:
#   job_framework_posix_test.cpp  a serial line on a pseudo-terminal, and
#                                 the temporary directory named by TMPDIR.
file(GLOB job_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/job/*.cpp)
list(FILTER job_tests EXCLUDE REGEX "/job_framework_posix_test\\.cpp$")
orvanta_add_windows_test(test_job ${job_tests})

# The exports. Left out:
#   shared_lib_test.cpp        loads the library with dlopen and drives it
#                              against a simulator on a pseudo-terminal;
#   transport_texts_test.cpp   a simulator on a pseudo-terminal;
#   robust/                    simulators on pseudo-terminals.
orvanta_add_windows_test(test_api ${CMAKE_CURRENT_SOURCE_DIR}/api/exports_test.cpp)
# The header as a C host compiles it.
orvanta_add_windows_test(test_api_header_c ${CMAKE_CURRENT_SOURCE_DIR}/api/header_c/header_c_test.cpp
                         ${CMAKE_CURRENT_SOURCE_DIR}/api/header_c/header_c.c)

# The Win32 backends of the platform layer.
file(GLOB platform_win32_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32/*.cpp)
if(platform_win32_tests)
  orvanta_add_windows_test(test_platform_win32 ${platform_win32_tests})
endif()

# The Win32 waits: the break event, waits for another signal, Winsock on
# the loopback. (The serial end-to-end test in tests/windows/serial/ is
# registered by its own CMakeLists.txt, from the top level.)
orvanta_add_windows_test(test_windows_waits ${CMAKE_CURRENT_SOURCE_DIR}/windows/waits/waits_test.cpp)

# The installed library as a host sees it: the DLL, its import library and
# .def together; a C host built against the installed header imports the
# functions, links against the import library and runs one job under Wine.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME windows_install_host
           COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/install/install_wine.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_C_COMPILER} ${CMAKE_NM} ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(windows_install_host PROPERTIES LABELS test_windows_install TIMEOUT 300)
endif()
