# Build helpers shared by every folder of the project.

add_library(qez_build_flags INTERFACE)
target_include_directories(qez_build_flags INTERFACE
  ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include ${PROJECT_BINARY_DIR}/generated)
target_compile_options(qez_build_flags INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>
  $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)

if(QEZ_SANITIZE)
  add_compile_options(-fsanitize=${QEZ_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${QEZ_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # A C program that links the (C++) library needs clang's C++ parts of
    # the sanitizer runtimes too (UBSan's dynamic type checks), and the C++
    # standard library they call.
    add_link_options("$<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime;-lstdc++>")
  endif()
endif()
# Shared objects of the stand-ins refuse undefined symbols, except where
# clang's sanitizer runtimes (linked into the executable only) and the
# fuzzer's coverage counters must stay undefined until load time.
set(QEZ_NO_UNDEFINED_LINK_OPTION -Wl,--no-undefined)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND (QEZ_SANITIZE OR QEZ_BUILD_FUZZERS))
  set(QEZ_NO_UNDEFINED_LINK_OPTION)
endif()

# Adds a folder when it already holds a CMakeLists.txt, so subsystems can be
# grown one at a time without touching the top level.
# QEZ_EXCLUDE_DIRS lists folders to leave out of a local build.
set(QEZ_EXCLUDE_DIRS "" CACHE STRING "Folders to leave out of the build")
macro(qez_add_subdirectory_if_present dir)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt AND NOT "${dir}" IN_LIST QEZ_EXCLUDE_DIRS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/${dir})
  endif()
endmacro()

# One object component of libqez_sycl_dft.so.
function(qez_component name)
  add_library(${name} OBJECT ${ARGN})
  target_link_libraries(${name} PUBLIC qez_build_flags)
  if(QEZ_BUILD_FUZZERS)
    # Coverage for the harnesses that link the library; the fuzzer's
    # runtime itself is linked into the harnesses only.
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  set_property(GLOBAL APPEND PROPERTY QEZ_COMPONENTS ${name})
endfunction()

# One GPU backend family: every source of the folder and of its backend
# subfolders becomes the component qez_backends_<family>.
function(qez_backend_family family)
  file(GLOB family_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*/*.cpp)
  qez_component(qez_backends_${family} ${family_sources})
  target_link_libraries(qez_backends_${family} PUBLIC qez_threading_headers)
  if(TARGET qez_sycl_standin)
    target_link_libraries(qez_backends_${family} PUBLIC qez_sycl_standin)
  endif()
endfunction()

function(qez_define_main_library)
  get_property(components GLOBAL PROPERTY QEZ_COMPONENTS)
  if(NOT components)
    # Nothing built yet: keep the target so tests and examples can name it.
    file(WRITE ${PROJECT_BINARY_DIR}/generated/qez_empty.cpp "// generated: empty library\n")
    set(components_src ${PROJECT_BINARY_DIR}/generated/qez_empty.cpp)
  endif()
  add_library(qez_sycl_dft SHARED ${components_src})
  # In-tree users see the components' usage requirements; an installed
  # library carries only what cmake/QezInstall.cmake gives it.
  target_link_libraries(qez_sycl_dft PRIVATE qez_build_flags ${components}
                        INTERFACE "$<BUILD_INTERFACE:qez_build_flags;${components}>")
  # Opened at run time from the library's own directory.
  add_dependencies(qez_sycl_dft qez_vorp_thread)
endfunction()

# Test sources compiled once for several test executables that differ only in
# the environment they run under (profiles, scenarios, precisions); each of
# them takes SOURCES $<TARGET_OBJECTS:name> instead of compiling its own copy.
#   qez_gtest_objects(name SOURCES ... [LIBS ...])
function(qez_gtest_objects name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} OBJECT ${T_SOURCES})
  target_link_libraries(${name} PRIVATE qez_build_flags GTest::gtest ${T_LIBS})
  target_compile_options(${name} PRIVATE ${QEZ_TEST_COMPILE_OPTIONS})
endfunction()

# Options added to the test executables' own sources, after the build
# type's (CI gives -O0: those sources are most of what it compiles, their
# own work at run time is small beside the library's and the device's, and
# the library, the shared test support and the suites under a LOCK keep the
# build type's optimisation).
set(QEZ_TEST_COMPILE_OPTIONS "" CACHE STRING "Extra compile options of the test executables' own sources")

# A GoogleTest executable whose cases become CTest entries.
#   qez_gtest(name SOURCES ... [LIBS ...] [LABELS ...] [ENV VAR=value ...]
#             [FILTER gtest-filter] [LOCK resource] [LONG gtest-filter])
# LOCK gives every case the CTest resource lock of that name, so that cases
# holding the same lock never run at the same time (transforms that take
# gigabytes of memory hold qez_large_memory). Such cases also carry a high
# cost, which a parallel CTest run starts first: their one-at-a-time chain
# then runs beside the other cases instead of after them. Their time goes
# into running large transforms rather than building programs, so PoCL
# builds their programs with its front end's optimisation even where CI
# switches it off for the rest (scripts/test.sh), and their own sources
# keep the build type's optimisation: unoptimised kernels, and unoptimised
# loops over every element, run such transforms at half the speed or less.
set(QEZ_LOCKED_TEST_COST 1000)
include(GoogleTest)
function(qez_gtest name)
  cmake_parse_arguments(T "" "FILTER;LOCK;LONG" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE qez_build_flags GTest::gtest GTest::gtest_main ${T_LIBS})
  if(NOT T_LOCK)
    target_compile_options(${name} PRIVATE ${QEZ_TEST_COMPILE_OPTIONS})
  endif()
  set(props)
  set(long_labels ${T_LABELS} long)
  set(long_props LABELS "${long_labels}")
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK "${T_LOCK}" COST ${QEZ_LOCKED_TEST_COST})
    list(APPEND long_props RESOURCE_LOCK "${T_LOCK}")
    list(APPEND T_ENV POCL_EXTRA_BUILD_FLAGS=)
    # Entries that run the executable some other way take the lock too.
    set_property(TARGET ${name} PROPERTY QEZ_GTEST_LOCK "${T_LOCK}")
  endif()
  if(T_ENV)
    # The cases run (and are listed) under `cmake -E env`, which takes any
    # number of variables.
    set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${T_ENV})
  endif()
  # FILTER (a gtest filter) keeps the cases that do not apply under this
  # environment out of CTest altogether; other entries that run the whole
  # executable under the same environment read it from QEZ_GTEST_FILTER.
  set(filter)
  if(T_FILTER)
    set(filter TEST_FILTER "${T_FILTER}")
    set_property(TARGET ${name} PROPERTY QEZ_GTEST_FILTER "${T_FILTER}")
  endif()
  # LONG (a gtest filter, without FILTER) names cases of minutes each whose
  # road other cases take at smaller sizes: they carry the label long,
  # which CI leaves out.
  if(T_LONG)
    if(T_FILTER)
      message(FATAL_ERROR "qez_gtest(${name}): LONG does not combine with FILTER")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         TEST_PREFIX "${name}." TEST_FILTER "${T_LONG}" PROPERTIES ${long_props})
    set(filter TEST_FILTER "*-${T_LONG}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       TEST_PREFIX "${name}." ${filter} PROPERTIES ${props})
endfunction()

# Oclgrind's ICD as an OpenCL platform: sets `out` to a directory naming it
# alone, for OCL_ICD_VENDORS, or to "" when Oclgrind is not installed.
set(QEZ_OCLGRIND_ICD /usr/lib/oclgrind/liboclgrind-rt-icd.so)
function(qez_oclgrind_vendors out)
  if(NOT EXISTS ${QEZ_OCLGRIND_ICD})
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  set(dir ${PROJECT_BINARY_DIR}/oclgrind_vendors)
  file(WRITE ${dir}/oclgrind.icd "${QEZ_OCLGRIND_ICD}\n")
  set(${out} ${dir} PARENT_SCOPE)
endfunction()
