# The two commands of the README: `make demo` and `make test`. Both set up the machine first.
# `make package` builds the Debian package in its own tree, installed under /usr.
BUILD ?= build
PACKAGE_BUILD ?= build-package
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: setup build test demo bench fuzz package clean

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

package: setup
	@bash scripts/setup --package
	# Debian's hardening flags: fortified calls, stack protector, read-only relocations bound at
	# start. CMake reads no CPPFLAGS, so they go with the compiler flags.
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all && eval "$$(dpkg-buildflags --export=sh)" && \
	  CFLAGS="$$CFLAGS $$CPPFLAGS" CXXFLAGS="$$CXXFLAGS $$CPPFLAGS" \
	  cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target velorin velorin_data
	rm -f $(PACKAGE_BUILD)/velorin_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	lintian --info --fail-on error $(PACKAGE_BUILD)/velorin_*.deb

clean:
	rm -rf $(BUILD) $(PACKAGE_BUILD) build-fuzz build-asan out
