# `cmake --install` lays out the library for use from another project:
#   include/                 public headers (and the SYCL stand-in's <sycl/...>)
#   lib/                     libqez_sycl_dft.so and every platform library it
#                            links to or opens at run time, side by side
#   lib/cmake/QezSyclDft/    the package configuration: after
#                            find_package(QezSyclDft CONFIG REQUIRED) a program
#                            links QezSyclDft::qez_sycl_dft.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QEZ_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QezSyclDft)

# Libraries the package exports as imported targets: the library, what its
# headers need (the SYCL stand-in) and the shared objects they link to.
set(qez_exported_libraries qez_sycl_dft qez_core)
foreach(platform_library qez_sycl_standin qez_gpu_profile)
  if(TARGET ${platform_library})
    list(APPEND qez_exported_libraries ${platform_library})
  endif()
endforeach()
# Opened by file name at run time from the library's own directory.
set(qez_runtime_loaded_libraries qez_vorp_thread)

# Installed libraries find each other in their own directory: the library
# opens the threading layer and the OpenCL forwarding library there itself,
# and the loader resolves the links through $ORIGIN.
set_target_properties(${qez_exported_libraries} ${qez_runtime_loaded_libraries}
                      PROPERTIES INSTALL_RPATH "$ORIGIN")

# What a program needs besides the headers: the SYCL runtime, and the link
# flags a sanitized library demands of the program that loads it.
if(TARGET qez_sycl_standin)
  target_link_libraries(qez_sycl_dft PUBLIC qez_sycl_standin)
endif()
if(QEZ_SANITIZE)
  target_link_options(qez_sycl_dft INTERFACE $<INSTALL_INTERFACE:-fsanitize=${QEZ_SANITIZE}>)
endif()

install(TARGETS ${qez_exported_libraries} EXPORT QezSyclDftTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS ${qez_runtime_loaded_libraries}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET qez_sycl_standin)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/sycl/include/sycl
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(EXPORT QezSyclDftTargets NAMESPACE QezSyclDft:: DESTINATION ${QEZ_INSTALL_CMAKEDIR})
configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/QezSyclDftConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QezSyclDftConfig.cmake
  INSTALL_DESTINATION ${QEZ_INSTALL_CMAKEDIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/QezSyclDftConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QezSyclDftConfig.cmake
              ${PROJECT_BINARY_DIR}/QezSyclDftConfigVersion.cmake
        DESTINATION ${QEZ_INSTALL_CMAKEDIR})

# The package as another project meets it: install into a temporary prefix,
# build tests/install_consumer against it and run that program.
if(QEZ_BUILD_TESTS)
  set(consumer_arguments -G ${CMAKE_GENERATOR} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
                         -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
  if(CMAKE_CXX_COMPILER_LAUNCHER)
    list(APPEND consumer_arguments -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
  endif()
  add_test(NAME install_consumer
           COMMAND ${PROJECT_SOURCE_DIR}/tests/install_consumer/check_install.sh
                   ${PROJECT_BINARY_DIR} ${consumer_arguments})
  set_tests_properties(install_consumer PROPERTIES LABELS install)
endif()
