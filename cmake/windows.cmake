# The Windows build (mingw-w64): system libraries of the platform layer,
# pugixml from source, and the DLL's exports.

# GCC 12 also warns wrongly at -O2 about the short strings it inlined
# (-Wmaybe-uninitialized on a std::string assigned in every branch).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(orvanta_warnings INTERFACE -Wno-maybe-uninitialized)
endif()

# The library's own sources (and the tests linked with its archives) define
# the exports; a host including orvanta/ecr.h without this imports them.
target_compile_definitions(orvanta_base PUBLIC ORVANTA_BUILDING_DLL)

# The platform layer's Win32 sources see only what they ask for.
target_compile_definitions(orvanta_base PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# Winsock 2, the device setup API with the HID class, COM automation.
target_link_libraries(orvanta_base PUBLIC ws2_32 setupapi hid ole32 oleaut32 uuid)

# pugixml for the CAS result files: Debian ships no mingw build of it, so it
# is compiled here from its source package (scripts/install-deps.sh unpacks
# it to /usr/local/src/orvanta/pugixml).
if(NOT TARGET pugixml::pugixml)
  set(ORVANTA_PUGIXML_SOURCE_DIR /usr/local/src/orvanta/pugixml CACHE PATH
      "Unpacked pugixml source (the folder holding src/pugixml.cpp)")
  if(NOT EXISTS ${ORVANTA_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
    message(FATAL_ERROR "pugixml source not found in ${ORVANTA_PUGIXML_SOURCE_DIR}: run scripts/install-deps.sh")
  endif()
  add_library(orvanta_pugixml STATIC ${ORVANTA_PUGIXML_SOURCE_DIR}/src/pugixml.cpp)
  target_include_directories(orvanta_pugixml SYSTEM PUBLIC ${ORVANTA_PUGIXML_SOURCE_DIR}/src)
  add_library(pugixml::pugixml ALIAS orvanta_pugixml)
endif()

# The DLL a host loads: orvanta.dll (import library liborvanta.dll.a),
# exporting exactly the names of the .def file, undecorated, with the C
# calling convention (the caller cleans the stack) in both builds. The C++
# runtime and the thread library are linked in (the toolchain links every
# binary statically), so the DLL needs only system DLLs beside it.
function(orvanta_windows_dll target def_file)
  target_sources(${target} PRIVATE ${def_file})
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME orvanta LINK_DEPENDS ${def_file})
endfunction()
