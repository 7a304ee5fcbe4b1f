# Set-up commands: `make demo` mixes the bundled example, `make test` runs every test.
# `make examples` mixes every example session; `make install` and `make package` install or package.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX ?= /usr/local
DESTDIR ?=
# The example sessions `make examples` renders; `make demo` renders the first.
EXAMPLES = session spoken tempo effects

.PHONY: all build demo examples test install package bench sanitize clean

all: build

# Configuring first makes sure the system packages are there (.ci/deps installs
# them, or stops with a line naming them).
$(BUILD)/CMakeCache.txt:
	@.ci/deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	$(BUILD)/make_session examples/session
	cd examples/session && ../../$(BUILD)/corvale

# Each session's tracks are written by make_session; the control files are in the repository.
examples: build
	set -e; for s in $(EXAMPLES); do \
	  $(BUILD)/make_session examples/$$s $$s; \
	  (cd examples/$$s && ../../$(BUILD)/corvale); \
	done

# Installs the programs, manual pages and guide under $(DESTDIR)$(PREFIX).
# Only the three programs are built for these two.
install: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target corvale palisar quenby -j $(JOBS)
	DESTDIR='$(DESTDIR)' cmake --install $(BUILD) --prefix '$(PREFIX)'

# A Debian package in $(BUILD): corvale_VERSION_ARCH.deb (needs dpkg-dev).
package: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target corvale palisar quenby -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Benchmark of the mixer against its peers (not part of test): prints a table.
bench: build
	bench/run_bench.sh $(BUILD)

sanitize:
	@.ci/deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCORVALE_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-asan
