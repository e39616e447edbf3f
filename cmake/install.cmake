# Installation: the shared library (with its soname link), the public header,
# ecrctl and ecr-sim in the GNUInstallDirs places, a pkg-config file and a
# CMake package giving the imported target orvanta::orvanta. Two components:
# `runtime` (library, header, package files: what a host needs) and `tools`
# (ecrctl and ecr-sim); `cmake --install <build> --component runtime` installs
# the first alone.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Windows: the import library (liborvanta.dll.a) and the .def file lie
# beside orvanta.dll, so that a host built with another toolchain can make
# its own import library from the .def.
if(WIN32)
  set(ORVANTA_ARCHIVE_DIR ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/src/api/orvanta.def DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
else()
  set(ORVANTA_ARCHIVE_DIR ${CMAKE_INSTALL_LIBDIR})
endif()
install(TARGETS orvanta EXPORT orvantaTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${ORVANTA_ARCHIVE_DIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/orvanta/ecr.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orvanta
        COMPONENT runtime)
foreach(tool ecrctl ecr-sim)
  if(TARGET ${tool})
    # ecrctl finds the installed library beside it in ../lib.
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

set(ORVANTA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orvanta)
install(EXPORT orvantaTargets NAMESPACE orvanta:: DESTINATION ${ORVANTA_CMAKE_DIR} COMPONENT runtime)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/orvantaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/orvantaConfig.cmake INSTALL_DESTINATION ${ORVANTA_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/orvantaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/orvantaConfig.cmake ${PROJECT_BINARY_DIR}/orvantaConfigVersion.cmake
        DESTINATION ${ORVANTA_CMAKE_DIR} COMPONENT runtime)

# pkg-config paths: absolute as given, else below the prefix, which is found
# from where the file lies, so that an install with another --prefix holds.
file(RELATIVE_PATH ORVANTA_PC_UP /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" ORVANTA_PC_UP "${ORVANTA_PC_UP}")
set(ORVANTA_PC_PREFIX "\${pcfiledir}/${ORVANTA_PC_UP}")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ORVANTA_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ORVANTA_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/orvanta.pc.in ${PROJECT_BINARY_DIR}/orvanta.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orvanta.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT runtime)
