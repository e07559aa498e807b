# Front door: every target installs what is missing, then builds.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all bootstrap build test asan fuzz demo bench clean

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

# Journal throughput and peak memory; SIZE=1000 is about a million journal rows
SIZE ?= 200
bench: build
	@bench/journals.sh $(BUILD) $(SIZE)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer
asan:
	@$(MAKE) --no-print-directory test BUILD=build-asan CMAKE_FLAGS=-DKESTRIX_SANITIZE=ON

# The fuzz targets, built with clang's libFuzzer and the sanitizers, each run for FUZZ_SECONDS
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_FUZZ=ON >/dev/null
	@cmake --build build-fuzz --target kestrix_fuzz
	@tests/fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build build-asan build-fuzz
