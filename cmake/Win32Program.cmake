# setup.exe: a static, CRT-free PE32 GUI program. It brings its own entry point
# and the few memory routines the compiler may call, links libgcc for 64-bit
# arithmetic and imports system DLLs only.
enable_language(RC)
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

include(${PROJECT_SOURCE_DIR}/cmake/SetupFlags.cmake)
set(WIN32_COMPILE_FLAGS ${SETUP_COMPILE_FLAGS})
set(WIN32_SYSTEM_LIBS
  comctl32 comdlg32 shell32 ole32 advapi32 version gdi32 user32 kernel32)

add_library(portable_win32 STATIC ${PORTABLE_SOURCES})
target_include_directories(portable_win32 PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(portable_win32 PRIVATE ${WIN32_COMPILE_FLAGS})

# The decoder is the one hot loop of an installation: it alone is built for
# speed (cmake/SetupFlags.cmake).
add_library(codec_win32 STATIC ${DECODER_SOURCES})
target_include_directories(codec_win32 PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(codec_win32 PRIVATE ${SETUP_DECODER_FLAGS})

# The decode benchmark with the decoder as setup.exe has it: a console
# program over codec_win32 that may use the C runtime. scripts/decode_bench.sh
# runs it under Wine beside the host build of the same source.
add_executable(decode_bench bench/decode_bench.cpp)
target_compile_options(decode_bench PRIVATE ${SETUP_DECODER_FLAGS})
target_link_libraries(decode_bench PRIVATE codec_win32)
target_link_options(decode_bench PRIVATE -static -s)
set_target_properties(decode_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PRODUCT_DIR})

# The welcome picture is stored imploded; the host packager compresses it, so
# the host tools are built first (make build does so).
set(SETUPPACK ${PRODUCT_DIR}/setuppack)
set(WELCOME_STREAM ${CMAKE_CURRENT_BINARY_DIR}/resources/welcome.cmp)
add_custom_command(OUTPUT ${WELCOME_STREAM}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/resources
  COMMAND ${SETUPPACK} implode --literals binary --dictionary 4096
          ${PROJECT_SOURCE_DIR}/src/resources/welcome.bmp ${WELCOME_STREAM}
  DEPENDS ${PROJECT_SOURCE_DIR}/src/resources/welcome.bmp ${SETUPPACK}
  COMMENT "Compressing the welcome picture"
  VERBATIM)
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/resources/setup.rc PROPERTIES
  OBJECT_DEPENDS ${WELCOME_STREAM})

# The order of the sources is the link order, which lays out their strings and
# tables in the image one file after another. Code that moves between files
# keeps its place in it (archive/file_version.cpp follows the setup state,
# from which it took the version text reader), so that the image stays the
# same byte for byte.
add_executable(setup WIN32
  src/setup/entry.cpp
  src/state/setup_state.cpp
  src/archive/file_version.cpp
  src/setup/install_sequence.cpp
  src/setup/parse_command_line.cpp
  src/setup/directory.cpp
  src/setup/platform.cpp
  src/setup/completion.cpp
  src/archive/open_archive.cpp
  src/archive/member_output.cpp
  src/archive/extract.cpp
  src/archive/icon_table.cpp
  src/archive/trailing_block.cpp
  src/archive/setup_info.cpp
  src/explode/compressed_bitmap.cpp
  src/agent/agent_channel.cpp
  src/agent/agent_control.cpp
  src/shell/program_icons.cpp
  src/shell/uninstall.cpp
  src/ui/messages.cpp
  src/ui/progress_dialog.cpp
  src/ui/welcome_dialog.cpp
  src/resources/setup.rc
)
target_include_directories(setup PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_BINARY_DIR}/resources)
target_compile_options(setup PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${WIN32_COMPILE_FLAGS}>)
# The setup state is zero at start: without its own data section, GCC puts it
# in .bss, which takes no room in the file (in a section of its own, mingw's
# GCC writes its zeros into .data).
set_source_files_properties(src/state/setup_state.cpp PROPERTIES COMPILE_OPTIONS -fno-data-sections)
target_compile_definitions(setup PRIVATE WIN32_LEAN_AND_MEAN _WIN32_IE=0x0400)
target_link_options(setup PRIVATE
  -nostdlib -static -s -mwindows -Wl,--gc-sections -Wl,-e,_SetupEntry
  -Wl,--file-alignment,512 -Wl,--section-alignment,4096 -Wl,--no-seh
  -Wl,--disable-dynamicbase -Wl,--disable-nxcompat -Wl,--disable-reloc-section)
target_link_libraries(setup PRIVATE portable_win32 codec_win32 ${WIN32_SYSTEM_LIBS} gcc)
set_target_properties(setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PRODUCT_DIR})

# The archive is appended at kArchiveOffset: the image must end before it.
add_custom_command(TARGET setup POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:setup> -DLIMIT=61440
          -P ${PROJECT_SOURCE_DIR}/cmake/CheckSize.cmake
  VERBATIM)
