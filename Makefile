# Thin wrapper over CMake. `make run` starts the program, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 45

.PHONY: all deps build run test bench fuzz package screenshot format clean

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

# The lanes against OpenSSL under libFuzzer, ASan and UBSan, for FUZZ_SECONDS.
fuzz:
	@scripts/install-deps.sh fuzz
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DDUPFIND_FUZZ=ON -DDUPFIND_SANITIZE=ON \
	  -DDUPFIND_UI=OFF -DDUPFIND_TESTS=OFF
	cmake --build build-fuzz -j $(JOBS) --target md5_lanes_fuzz
	build-fuzz/tests/fuzz/md5_lanes_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1

package: build
	@scripts/install-deps.sh package
	cd $(BUILD) && cpack -G DEB

screenshot: build
	scripts/screenshot.sh $(BUILD)

format:
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD)
