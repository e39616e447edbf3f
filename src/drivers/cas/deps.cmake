# CAS result files are read with pugixml (Debian: libpugixml-dev; the
# Windows build compiles it from source, see cmake/windows.cmake).
if(NOT TARGET pugixml::pugixml)
  find_package(pugixml REQUIRED)
endif()
target_link_libraries(${ORVANTA_FAMILY_TARGET} PRIVATE pugixml::pugixml)
