# Host build: the packager, the unit tests (under AddressSanitizer and UBSan),
# the end-to-end tests that drive setup.exe under Wine, fuzzers and benchmarks.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE Release)
endif()

find_package(GTest REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(TOMLPP REQUIRED IMPORTED_TARGET tomlplusplus)
find_path(CLI11_INCLUDE_DIR CLI/CLI.hpp REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(yaml-cpp REQUIRED)

set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

# The encoder and the memory adapters join the decoder in the host's codec.
set(CODEC_SOURCES
  ${DECODER_SOURCES}
  src/explode/implode.cpp
  src/explode/memory_codec.cpp
)

# add_host_library(name sources... [LINK libs...]): the library `name` for the
# tools, benchmarks and Wine tests, and `name_san` built with AddressSanitizer
# and UBSan for the unit tests; `name_san` links the _san flavour of each
# library in LINK.
function(add_host_library name)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  foreach(flavour "" "_san")
    add_library(${name}${flavour} STATIC ${ARG_UNPARSED_ARGUMENTS})
    target_include_directories(${name}${flavour} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${name}${flavour} PRIVATE ${WARNING_FLAGS})
    foreach(lib ${ARG_LINK})
      if(TARGET ${lib}${flavour})
        target_link_libraries(${name}${flavour} PUBLIC ${lib}${flavour})
      else()
        target_link_libraries(${name}${flavour} PUBLIC ${lib})
      endif()
    endforeach()
  endforeach()
  target_compile_options(${name}_san PUBLIC ${SANITIZE_FLAGS} -O1 -g)
  target_link_options(${name}_san PUBLIC ${SANITIZE_FLAGS})
endfunction()

add_host_library(portable ${PORTABLE_SOURCES})
add_host_library(codec ${CODEC_SOURCES})

# The packager, one library for each room of src/setuppack, from the bottom
# up; each links only the rooms below it:
#   setuppack_host     errors, file I/O and times, code pages, host paths, PE
#                      headers and file versions, SHA-256
#   setuppack_package  the package model and its manifest reader (TOML access,
#                      values, source trees)
#   setuppack_signing  Authenticode signatures through osslsigncode
#   setuppack_writer   archive builder, package writer, parallel encoding,
#                      progress, setup program files
#   setuppack_reader   archive reader and the commands built on it: list,
#                      extract, verify, winget
#   setuppack_streams  the raw implode and explode commands
#   setuppack_trial    `try`: a setup program run under Wine, its report and
#                      the check of what it installed against its package
# setuppack_core is all of them: the packager without its command line.
function(add_setuppack_room room)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/setuppack/${room}/*.cpp)
  add_host_library(setuppack_${room} ${sources} ${ARGN})
endfunction()
add_setuppack_room(host LINK portable OpenSSL::Crypto)
add_setuppack_room(package LINK setuppack_host portable codec PkgConfig::TOMLPP)
add_setuppack_room(signing LINK setuppack_host)
add_setuppack_room(writer LINK setuppack_package setuppack_host codec)
add_setuppack_room(reader LINK setuppack_package setuppack_signing setuppack_host codec
  OpenSSL::Crypto nlohmann_json::nlohmann_json)
add_setuppack_room(streams LINK setuppack_host codec)
add_setuppack_room(trial LINK setuppack_reader setuppack_writer setuppack_host portable codec
  OpenSSL::Crypto nlohmann_json::nlohmann_json)
foreach(flavour "" "_san")
  add_library(setuppack_core${flavour} INTERFACE)
  target_link_libraries(setuppack_core${flavour} INTERFACE
    setuppack_writer${flavour} setuppack_reader${flavour} setuppack_streams${flavour} setuppack_trial${flavour})
endforeach()

add_executable(setuppack src/setuppack/main.cpp)
target_include_directories(setuppack PRIVATE ${CLI11_INCLUDE_DIR})
target_link_libraries(setuppack PRIVATE setuppack_core)
target_compile_options(setuppack PRIVATE ${WARNING_FLAGS})
set_target_properties(setuppack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PRODUCT_DIR})

enable_testing()
include(GoogleTest)

# Test support (tests/support): temporary directories, sample data, PE images,
# damaged archives and the node-pkware runner, for the unit tests and the Wine tests alike; built in
# the flavour of the product code that each test binary links.
file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
add_host_library(test_support ${TEST_SUPPORT_SOURCES} LINK setuppack_core)
target_include_directories(test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_include_directories(test_support_san PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(test_support PRIVATE TESTS_DIR="${PROJECT_SOURCE_DIR}/tests")
target_compile_definitions(test_support_san PRIVATE TESTS_DIR="${PROJECT_SOURCE_DIR}/tests")

# The unit tests mirror src: tests/unit/format checks src/format,
# tests/unit/setuppack/reader src/setuppack/reader, and so on.
file(GLOB_RECURSE UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE test_support_san GTest::gtest GTest::gtest_main yaml-cpp)
target_compile_definitions(unit_tests PRIVATE
  SOURCE_DIR="${PROJECT_SOURCE_DIR}" PRODUCT_DIR="${PRODUCT_DIR}")
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

# The sanitizers do not see reads of memory never written; memcheck does. It
# runs the packager's encoder, which leaves its large tables unwritten on
# purpose, on a small text at both levels and on a 1 MiB binary (judged on
# samples), and the decoder on that binary's stream.
find_program(VALGRIND valgrind)
if(VALGRIND)
  foreach(case "readme;${PROJECT_SOURCE_DIR}/README.md;" "readme_best;${PROJECT_SOURCE_DIR}/README.md;--best"
               "program;$<TARGET_FILE:setuppack>;")
    list(GET case 0 name)
    list(GET case 1 input)
    list(GET case 2 level)
    add_test(NAME memcheck.implode_${name}
             COMMAND ${VALGRIND} --error-exitcode=3 --quiet $<TARGET_FILE:setuppack> implode ${level} ${input}
                     ${CMAKE_CURRENT_BINARY_DIR}/memcheck_${name}.imp)
    set_tests_properties(memcheck.implode_${name} PROPERTIES LABELS memcheck TIMEOUT 120
                         FIXTURES_SETUP memcheck_${name})
  endforeach()
  # The decoder on the binary's stream.
  add_test(NAME memcheck.explode_program
           COMMAND ${VALGRIND} --error-exitcode=3 --quiet $<TARGET_FILE:setuppack> explode
                   ${CMAKE_CURRENT_BINARY_DIR}/memcheck_program.imp ${CMAKE_CURRENT_BINARY_DIR}/memcheck_program.out)
  set_tests_properties(memcheck.explode_program PROPERTIES LABELS memcheck TIMEOUT 120
                       FIXTURES_REQUIRED memcheck_program)
endif()

foreach(dir tests/wine tests/fuzz tests/oracle bench)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
