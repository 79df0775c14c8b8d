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

set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

file(GLOB SETUPPACK_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/setuppack/*.cpp)
list(FILTER SETUPPACK_SOURCES EXCLUDE REGEX "/main\\.cpp$")

# The codec: the explode decoder (built into setup.exe as well), the implode
# encoder and the memory adapters, a library of its own for every host
# program that reads or writes implode streams. codec_san is its flavour
# for the unit tests.
set(CODEC_SOURCES
  src/explode/explode.cpp
  src/explode/implode.cpp
  src/explode/memory_codec.cpp
)
add_library(codec STATIC ${CODEC_SOURCES})
add_library(codec_san STATIC ${CODEC_SOURCES})
foreach(lib codec codec_san)
  target_include_directories(${lib} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${lib} PRIVATE ${WARNING_FLAGS})
endforeach()
target_compile_options(codec_san PUBLIC ${SANITIZE_FLAGS} -O1 -g)
target_link_options(codec_san PUBLIC ${SANITIZE_FLAGS})

# The rest of the portable code, and the packager; the decoder comes from the
# codec.
set(HOST_PORTABLE_SOURCES ${PORTABLE_SOURCES})
list(REMOVE_ITEM HOST_PORTABLE_SOURCES ${CODEC_SOURCES})

# One library per flavour: plain for the tools, sanitized for the unit tests.
foreach(flavour plain san)
  add_library(korvane_${flavour} STATIC ${HOST_PORTABLE_SOURCES} ${SETUPPACK_SOURCES})
  target_include_directories(korvane_${flavour} PUBLIC ${PROJECT_SOURCE_DIR}/src ${CLI11_INCLUDE_DIR})
  target_compile_options(korvane_${flavour} PRIVATE ${WARNING_FLAGS})
  target_link_libraries(korvane_${flavour} PUBLIC PkgConfig::TOMLPP)
endforeach()
target_link_libraries(korvane_plain PUBLIC codec)
target_link_libraries(korvane_san PUBLIC codec_san)
target_compile_options(korvane_san PUBLIC ${SANITIZE_FLAGS} -O1 -g)
target_link_options(korvane_san PUBLIC ${SANITIZE_FLAGS})

add_executable(setuppack src/setuppack/main.cpp)
target_link_libraries(setuppack PRIVATE korvane_plain)
target_compile_options(setuppack PRIVATE ${WARNING_FLAGS})
set_target_properties(setuppack PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PRODUCT_DIR})

enable_testing()
include(GoogleTest)

# Test support (tests/support): temporary directories, sample data, PE images
# and damaged archives, for the unit tests and the Wine tests alike; built in
# the flavour of the product code that each test binary links.
file(GLOB TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
foreach(flavour plain san)
  add_library(test_support_${flavour} STATIC ${TEST_SUPPORT_SOURCES})
  target_include_directories(test_support_${flavour} PUBLIC ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(test_support_${flavour} PRIVATE ${WARNING_FLAGS})
  target_link_libraries(test_support_${flavour} PUBLIC korvane_${flavour})
endforeach()

file(GLOB UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_link_libraries(unit_tests PRIVATE test_support_san korvane_san GTest::gtest GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE
  SOURCE_DIR="${PROJECT_SOURCE_DIR}" PRODUCT_DIR="${PRODUCT_DIR}")
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)

foreach(dir tests/wine tests/fuzz tests/oracle bench)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
