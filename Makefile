# Thin wrapper over CMake and CTest.
#   make example   build the program, build the atomic data once, run the SN 2011fe example
#                  (make example EXAMPLE=hydrogen-envelope: the hydrogen-envelope example)
#   make data      build the atomic-data directory $(BUILD)/mcdata from data/sources
#   make install   install mcspec into PREFIX/bin (default /usr/local), its data and examples
#                  into PREFIX/share/mcspec
#   make test      build and run the whole test suite
#   make sanitize  the test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#   make bench     build and run the benchmarks
#   make fuzz      build the libFuzzer harnesses (clang) and run each FUZZ_SECONDS (default 30)
BUILD ?= build
SANBUILD ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build example data install test sanitize bench fuzz clean

all: build

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

EXAMPLE ?= sn2011fe-max
PYTHON ?= $(shell command -v /usr/bin/python3 || command -v python3)

# Only what an example needs: the program and the helper tools, not the tests.
# Quiet where nothing needs doing: a warm build prints only the run's progress and report.
example:
	@bash tools/install_deps.sh build plots || true
	@$(MAKE) --no-print-directory -s $(BUILD)/build.ninja data
	@cmake --build $(BUILD) -j $(JOBS) --target mcspec mkdata
	@PYTHON=$(PYTHON) bash tools/run_example.sh $(BUILD) $(EXAMPLE)

PREFIX ?= /usr/local
install: $(BUILD)/build.ninja data
	cmake --build $(BUILD) -j $(JOBS) --target mcspec mkdata
	cmake --install $(BUILD) --prefix $(PREFIX)

# The atomic data, built once and again only when the builder or its sources change.
data: $(BUILD)/mcdata/BUILD-REPORT.txt

$(BUILD)/mcdata/BUILD-REPORT.txt: tools/build_atomic_data.py $(shell find data/sources -type f 2>/dev/null)
	rm -rf $(BUILD)/mcdata
	$(PYTHON) tools/build_atomic_data.py $(BUILD)/mcdata

test: build
	@[ -f $(BUILD)/CTestTestfile.cmake ] || { echo "make test: the tests were not configured: install GoogleTest (apt-get install libgtest-dev), then rm -rf $(BUILD)" >&2; exit 1; }
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
