# The two entry points: `make demo` and `make test`. Both install what is
# missing first (see scripts/install-deps.sh).
JOBS ?= $(shell nproc)
HOST_BUILD := build/host
WIN32_BUILD := build/win32
CMAKE_FLAGS ?= -DWARNINGS_AS_ERRORS=ON

.PHONY: all deps build demo test unit wine-tests bench fuzz package screenshots clean

all: build

deps:
	@scripts/install-deps.sh

# The host tools come first: the cross build compresses the welcome picture
# with setuppack.
build: deps
	cmake -S . -B $(HOST_BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	cmake --build $(HOST_BUILD) -j $(JOBS)
	cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel $(CMAKE_FLAGS) >/dev/null
	cmake --build $(WIN32_BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh

# The host tests through CTest, then the Windows half (natively, or in the
# emulated machine where this kernel runs no i386 programs).
test: build
	cd $(HOST_BUILD) && ctest --output-on-failure -j $(JOBS) -LE wine
	@scripts/wine-tests.sh

# The Windows half alone; FILTER takes a gtest filter (Suite.*:Other.*).
wine-tests: build
	@scripts/wine-tests.sh

unit: build
	cd $(HOST_BUILD) && ctest --output-on-failure -L unit -j $(JOBS)

bench: build
	@scripts/bench.sh

fuzz: build
	@scripts/fuzz.sh long

# The Debian package of setuppack, in build/package.
package: build
	cmake --build $(HOST_BUILD) --target package

# PNGs of every dialog of the example package, in docs/images; needs Wine.
screenshots: build
	@scripts/screenshots.sh

clean:
	rm -rf build
