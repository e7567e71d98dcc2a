# Thin wrapper over CMake. `make run` starts the program, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build run test bench package screenshot format clean

all: build

deps:
	@scripts/install-deps.sh build test

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/ui/dupfind

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	bench/run.sh $(BUILD)

package: build
	@scripts/install-deps.sh package
	cd $(BUILD) && cpack -G DEB

screenshot: build
	scripts/screenshot.sh $(BUILD)

format:
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD)
