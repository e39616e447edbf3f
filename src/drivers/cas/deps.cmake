# CAS result files are read with pugixml (Debian: libpugixml-dev).
find_package(pugixml REQUIRED)
target_link_libraries(${ORVANTA_FAMILY_TARGET} PRIVATE pugixml::pugixml)
