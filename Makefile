# Set-up commands: `make demo` mixes the bundled example, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test bench sanitize clean

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
