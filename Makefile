# Thin wrapper over CMake and CTest.
#   make example   build, generate the data directory, run the example, plot it
#   make test      build and run the whole test suite
#   make sanitize  the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   make bench     build and run the benchmarks
#   make fuzz      build the libFuzzer harnesses (clang) and run each FUZZ_SECONDS (default 30)
BUILD ?= build
SANBUILD ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build example test sanitize bench fuzz clean

all: build

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

example: build
	bash tools/run_example.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(SANBUILD)/build.ninja:
	cmake -S . -B $(SANBUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMCSPEC_SANITIZE=ON -DMCSPEC_BENCH=OFF

sanitize: $(SANBUILD)/build.ninja
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && MCSPEC_SANITIZED=1 ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench_*; do [ -x "$$b" ] && "$$b" || true; done

FUZZ_SECONDS ?= 30
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh

clean:
	rm -rf $(BUILD) $(SANBUILD) build-fuzz
