# VELK: the whole set-up is `make run` and `make test` (see README.md).
BUILD      ?= build
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
CMAKE_GEN   = -G Ninja

# Compiler cache keyed on paths relative to the checkout, so a fresh clone in another
# folder (as CI makes) reuses the objects of earlier builds.
export CCACHE_BASEDIR   := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all deps build run test test-assistants test-package install uninstall package test-sanitize test-tsan bench format clean

all: build

deps:
	@scripts/install-deps.sh $(BUILD)

$(BUILD)/release/build.ninja:
	cmake -S . -B $(BUILD)/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/release/build.ninja
	cmake --build $(BUILD)/release -j $(JOBS)

run: build
	$(BUILD)/release/src/app/velk

test: build
	scripts/test.sh $(BUILD)/release

# Only the tests that drive the real assistant programs against a local model server.
test-assistants: build
	scripts/test.sh $(BUILD)/release -L assistants

# The Debian package of the Release build: installed with apt-get, its desktop files
# validated, the installed self-test run, then removed again (needs root or sudo).
test-package: build
	scripts/test-package.sh $(BUILD)/release

# Installs the Release build under $(PREFIX): bin/velk, lib/velk/velk-{speech,diff}.so,
# share/velk/resources, the menu entry, icons and AppStream metadata. The list of installed
# files is kept for `make uninstall`.
install: build
	cmake --install $(BUILD)/release --prefix $(PREFIX)
	cp $(BUILD)/release/install_manifest.txt $(BUILD)/release/velk-installed-files.txt

uninstall:
	@test -f $(BUILD)/release/velk-installed-files.txt || \
		{ echo "nothing was installed from $(BUILD)/release"; exit 1; }
	xargs -d '\n' rm -f < $(BUILD)/release/velk-installed-files.txt
	sed -n 's|^\(.*/\(share\|lib\)/velk\)/.*|\1|p' $(BUILD)/release/velk-installed-files.txt | sort -u | \
		xargs -r -d '\n' -I{} find {} -depth -type d -empty -delete
	rm -f $(BUILD)/release/velk-installed-files.txt

# The Debian package: $(BUILD)/release/velk_<version>_<arch>.deb.
package: build
	cd $(BUILD)/release && cpack --config CPackConfig.cmake -G DEB

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, but for the
# tests labelled "large" (projects of tens of thousands of files).
test-sanitize: deps
	cmake -S . -B $(BUILD)/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=asan
	cmake --build $(BUILD)/asan -j $(JOBS)
	scripts/test.sh $(BUILD)/asan -LE large

# The terminal tests built with ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(BUILD)/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=tsan
	cmake --build $(BUILD)/tsan -j $(JOBS) --target tsan_tests
	scripts/test.sh $(BUILD)/tsan -L tsan

bench: deps
	@scripts/install-deps.sh --bench
	cmake -S . -B $(BUILD)/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVELK_BENCH=ON
	cmake --build $(BUILD)/bench -j $(JOBS)
	scripts/bench.sh $(BUILD)/bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
