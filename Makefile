# Thin wrapper over CMake. `make test` is what CI runs.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench run screenshots clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	BUILD=$(BUILD) bash scripts/demo

bench: build
	bash scripts/fetch-samples demo-input
	$(BUILD)/bin/quorvane-bench demo-input/astronaut.png

run: build
	$(BUILD)/bin/quorvane

screenshots: build
	BUILD=$(BUILD) bash scripts/screenshots

clean:
	rm -rf $(BUILD)
