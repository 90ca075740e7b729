# Tessel: one entry point for setting up, building, running and testing.
JOBS ?= $(shell nproc)
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
FUZZ_SECONDS ?= 60

.PHONY: all deps build check test run screenshots deb deb-check test-tsan test-asan fuzz fuzz-ci fuzz-build bench bench-idle bench-latency clean

all: build

deps:
	@bash scripts/setup.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The quick suite: every unit, serial, simulator and end-to-end test of the main build.
check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# What CI runs: the quick suite, the whole suite under ASan+UBSan, and a short fuzz run.
test: check
	$(MAKE) deb-check
	$(MAKE) test-asan
	$(MAKE) fuzz-ci

# The Debian packages in build/: tessel_<version>_<arch>.deb (the window) and tesseld_... (the service).
deb: build
	cmake --build $(BUILD) -j $(JOBS) --target package_files
	cd $(BUILD) && cpack -G DEB

# The package checked with lintian, installed on this machine, and its programs run.
deb-check: deb
	bash scripts/deb_check.sh

run: build
	@bash scripts/run.sh

# Every window in both languages, rendered offscreen into build/screenshots/.
screenshots: build
	$(BUILD)/bin/tessel-screenshots $(BUILD)/screenshots

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTESSEL_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -L serial --timeout 300

test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSEL_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS="suppressions=$(CURDIR)/scripts/lsan.supp print_suppressions=0" \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# libFuzzer targets (fuzz/*_fuzz.cpp) built with clang in their own folder; each runs FUZZ_SECONDS.
fuzz-build: deps
	cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)

fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh build-fuzz

fuzz-ci:
	$(MAKE) fuzz FUZZ_SECONDS=20

# Benchmarks (bench/) in the main build folder; figures go to the terminal.
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target tessel_bench tessel_ui_bench
	$(BUILD)/bin/tessel_bench $(BENCH_ARGS)
	$(BUILD)/bin/tessel_ui_bench $(BENCH_ARGS)

# What the headless monitor costs while it polls tessel-sim: CPU per minute, wake-ups per request,
# memory (UNITS="1 16" RUNS=3 SECONDS_PER_RUN=60).
bench-idle: build
	bash scripts/bench_idle.sh

# How soon a unit on battery is known: tessel-sim at 9600 bit/s, the event log and ups.status
# timed from the switch, fixed cadence beside fast polling (PROTOCOLS="2 0" UNITS="16 3"
# TRIALS=40 DEFAULT_SECONDS=120).
bench-latency: build
	python3 scripts/bench_latency.py

clean:
	rm -rf $(BUILD) build-tsan build-asan build-fuzz
