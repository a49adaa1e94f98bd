# The two commands of the README: `make demo` and `make test`. Both set up the machine first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: setup build test demo bench fuzz clean

setup:
	@bash scripts/setup

build: setup
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@bash scripts/demo $(BUILD)/bin/velorin

bench: build
	@bash scripts/setup --bench
	@bash bench/run $(BUILD)/bin/velorin

fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DVELORIN_CORE_ONLY=ON -DVELORIN_TESTS=OFF -DVELORIN_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)

clean:
	rm -rf $(BUILD) build-fuzz build-asan out
