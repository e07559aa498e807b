# Front door: every target installs what is missing, then builds.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all bootstrap build test asan tsan fuzz demo gui bench package clean

all: build

bootstrap:
	@tools/bootstrap.sh

build: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j2

# A real transfer on the sample installation
demo: build
	@tools/demo.sh $(BUILD)

# The window on the sample installation, beside its data files
gui: build
	@tools/gui.sh $(BUILD)

# The transfer against its yardstick, embedded and through a private server; SIZE=1000 is
# about a million journal rows, SIZE=small a smoke run of about a minute; ROUNDS runs of each
# program and route, of which the median counts
SIZE ?= 1000
ROUNDS ?= 3
# SCALE=1 adds the scale row: the whole embedded run at three times SIZE against SIZE
SCALE ?= 0
bench: build
	@SCALE=$(SCALE) bench/transfer.sh $(BUILD) $(SIZE) $(ROUNDS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer
asan:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_FLAGS=-DKESTRIX_SANITIZE=ON

# The whole suite under ThreadSanitizer (suppressions for the libraries not built with it:
# tools/tsan.supp)
tsan:
	@$(MAKE) --no-print-directory test BUILD=build-tsan CMAKE_FLAGS=-DKESTRIX_TSAN=ON

# The Debian package kestrix_VERSION_amd64.deb, checked with lintian
package: build
	@tools/package.sh $(BUILD)

# The fuzz targets, built with clang's libFuzzer and the sanitizers, each run for FUZZ_SECONDS
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target kestrix_fuzz
	@tests/fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-fuzz
