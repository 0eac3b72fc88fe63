# Thin wrapper over CMake. `make test` is what CI runs.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test test-kill install deb demo bench run screenshots clean

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

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, written into this folder as quorvane_VERSION_ARCH.deb.
deb: build
	cd $(BUILD) && cpack -G DEB -B package
	cp $(BUILD)/package/quorvane_*.deb .

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
