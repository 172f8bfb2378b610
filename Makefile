# The two commands that do everything on a fresh machine: `make demo` and `make test`.
BUILD_DIR ?= build
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= 2
CMAKE_ARGS ?=

.PHONY: deps configure build test demo bench fuzz clean

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

demo: build
	bash scripts/demo $(BUILD_DIR)

bench: build
	bash scripts/bench $(BUILD_DIR)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DKELVANE_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	bash scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(FUZZ_DIR)
