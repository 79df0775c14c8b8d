# The compiler flags of setup.exe's code, and those of its decoder: the one
# hot loop of an installation, alone built for speed (the later -O2 overrides
# -Os), at a cost of about 4.5 KB of the image. The cross build compiles
# setup.exe with them (cmake/Win32Program.cmake); the host build compiles the
# decode benchmark for i686 Linux with the decoder's (bench/CMakeLists.txt),
# so that its instruction counts are those of the decoder in setup.exe.
set(SETUP_COMPILE_FLAGS
  -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-unwind-tables -fno-threadsafe-statics -ffunction-sections -fdata-sections
  -fno-stack-protector -fno-tree-loop-distribute-patterns -march=i686 -mno-stack-arg-probe
  ${WARNING_FLAGS})
set(SETUP_DECODER_FLAGS ${SETUP_COMPILE_FLAGS} -O2)
