# Thin wrapper over CMake. `make test` is what CI runs.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test test-kill fuzz test-asan test-tsan install deb demo bench bench-loaded bench-abort bench-50mp bench-decode run screenshots clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# SIGKILL during 100 picture saves and 100 settings writes.
test-kill: build
	bash scripts/test-kill $(BUILD) 100

# libFuzzer over the loading path (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# for FUZZ_SECONDS; crashing inputs are then opened through the contained decoder.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 300
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja $(CMAKE_FLAGS) -DQUORVANE_FUZZ=ON \
	  -DQUORVANE_SANITIZE=address,undefined
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target quorvane-fuzz-load quorvane-fuzz-seeds quorvane-fuzz-check
	bash scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -G Ninja $(CMAKE_FLAGS) -DQUORVANE_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 1200

# The threaded parts (jobs, panels, engine) under ThreadSanitizer.
TSAN_TESTS = Job|Panel|Thread|Original|Smudge|Redraw|Patch|Engine|Golden|Contained
test-tsan: deps
	cmake -S . -B build-tsan -G Ninja $(CMAKE_FLAGS) -DQUORVANE_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="suppressions=$(CURDIR)/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS) --timeout 1200 -R '$(TSAN_TESTS)'

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, written into this folder as quorvane_VERSION_ARCH.deb.
deb: build
	cd $(BUILD) && cpack -G DEB -B package
	cp $(BUILD)/package/quorvane_*.deb .

demo: build
	BUILD=$(BUILD) bash scripts/demo

# REPEATS=N: every big-picture run (and every decode) N times, best and median.
REPEATS ?=
REPEAT_ARGS = $(if $(REPEATS),--repeats $(REPEATS))
bench: build
	bash scripts/fetch-samples demo-input
	$(BUILD)/bin/quorvane-bench demo-input/astronaut.png $(BENCH_ARGS) $(REPEAT_ARGS)

# The same with a competing CPU-bound process, Abort latency, 50 megapixels.
bench-loaded: BENCH_ARGS += --loaded
bench-abort: BENCH_ARGS += --abort
bench-50mp: BENCH_ARGS += --50mp
bench-loaded bench-abort bench-50mp: bench

# What decoding in the separate decoder process costs, on a 12-megapixel JPEG and TIFF.
bench-decode: build
	bash scripts/fetch-samples demo-input
	$(BUILD)/bin/quorvane-bench demo-input/astronaut.png --save-12mp $(BUILD)/bench-12mp.jpg
	$(BUILD)/bin/quorvane-bench demo-input/astronaut.png --save-12mp $(BUILD)/bench-12mp.tif
	$(BUILD)/bin/quorvane-bench --decode $(BUILD)/bench-12mp.jpg $(BUILD)/bench-12mp.tif $(BENCH_ARGS) $(REPEAT_ARGS)

run: build
	$(BUILD)/bin/quorvane

screenshots: build
	BUILD=$(BUILD) bash scripts/screenshots

clean:
	rm -rf $(BUILD)
