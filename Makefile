# VELK: the whole set-up is `make run` and `make test` (see README.md).
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_GEN   = -G Ninja

# Compiler cache keyed on paths relative to the checkout, so a fresh clone in another
# folder (as CI makes) reuses the objects of earlier builds.
export CCACHE_BASEDIR   := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all deps build run test test-package test-sanitize test-tsan bench format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/release/build.ninja:
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/release/build.ninja
	cmake --build $(BUILD)/release -j $(JOBS)

run: build
	$(BUILD)/release/src/app/velk

test: build
	scripts/test.sh $(BUILD)/release

# The Debian package of the Release build: installed with apt-get, its desktop files
# validated, the installed self-test run, then removed again (needs root or sudo).
test-package: build
	scripts/test-package.sh $(BUILD)/release

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(BUILD)/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=asan
	cmake --build $(BUILD)/asan -j $(JOBS)
	scripts/test.sh $(BUILD)/asan

# The terminal tests built with ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(BUILD)/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=tsan
	cmake --build $(BUILD)/tsan -j $(JOBS) --target tsan_tests
	scripts/test.sh $(BUILD)/tsan -L tsan

bench: deps
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVELK_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)
	scripts/bench.sh $(BUILD)/bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
