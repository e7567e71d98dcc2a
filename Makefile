# Thin wrapper over CMake. `make run` starts the program, `make test` runs every test.
# On a machine without make, ./dupfind.sh TARGET installs it and runs the same.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 45

.PHONY: all deps build run test tsan bench bench-scale fuzz package screenshot format check-format clean

all: build

deps:
	@scripts/install-deps.sh build test

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/ui/dupfind

test: build
	@scripts/install-deps.sh bench  # the benchmark's peers, which the bench_run test drives
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The core's tests under ThreadSanitizer: the read-ahead's threads above all.
tsan: deps
	cmake -S . -B build-tsan -DDUPFIND_TSAN=ON -DDUPFIND_UI=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

bench: build
	bench/run.sh $(BUILD)

# Time and memory at 100,000 and 1,000,000 files (the larger tree is built
# once under bench/out: about 4 GiB). Not part of `make test`.
bench-scale: build
	bench/scale.sh $(BUILD)

# The lanes against OpenSSL under libFuzzer, ASan and UBSan, for FUZZ_SECONDS.
fuzz:
	@scripts/install-deps.sh fuzz
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DDUPFIND_FUZZ=ON -DDUPFIND_SANITIZE=ON \
	  -DDUPFIND_UI=OFF -DDUPFIND_TESTS=OFF -DDUPFIND_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target md5_lanes_fuzz
	build-fuzz/tests/fuzz/md5_lanes_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1

package:
	@JOBS=$(JOBS) scripts/build-package.sh $(BUILD)

screenshot: build
	scripts/screenshot.sh $(BUILD)

format:
	@scripts/install-deps.sh format
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i

check-format:
	@scripts/install-deps.sh format
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD)
