# The two everyday commands: `make run` and `make test`. Both install missing
# packages first (Debian or Ubuntu), then configure and build.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run test test-asan bench clean

all: build

# The package check runs once for a build tree, and again when the list of
# packages changes; `make deps` runs it whenever asked.
deps:
	./scripts/install-deps.sh

$(BUILD_DIR)/.deps-installed: scripts/install-deps.sh
	./scripts/install-deps.sh
	mkdir -p $(BUILD_DIR) && touch $@

# Configured once, and again only when the build type or the flags change;
# after that the build itself re-runs CMake when a CMakeLists.txt changes.
CONFIGURATION := $(BUILD_TYPE) $(CMAKE_FLAGS)
configure: $(BUILD_DIR)/.deps-installed
	@if [ ! -f $(BUILD_DIR)/CMakeCache.txt ] || [ "$$(cat $(BUILD_DIR)/.configured 2>/dev/null)" != "$(CONFIGURATION)" ]; then \
		cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) && \
		echo "$(CONFIGURATION)" > $(BUILD_DIR)/.configured; \
	fi

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

# Only what the program needs: the tests and benchmarks wait for their commands.
run: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS) --target brivela
	./$(BUILD_DIR)/brivela

# The long hostile-input runs (label "hostile") belong to test-asan.
test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error --parallel $(JOBS) -LE hostile

# The whole suite, the hostile-image corpus and the random session included,
# built with AddressSanitizer, LeakSanitizer and UBSan; the first report of
# any of them ends its test with a failure (the options are set in
# tests/CMakeLists.txt).
test-asan: deps
	cmake -S . -B $(BUILD_DIR)-asan -DCMAKE_BUILD_TYPE=Debug -DBRIVELA_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-asan --parallel $(JOBS)
	cd $(BUILD_DIR)-asan && ctest --output-on-failure --no-tests=error --parallel $(JOBS) $(CTEST_ARGS)

# Benchmarks build in a tree of their own, optimised, so that the test build
# stays as it is.
bench:
	./scripts/install-deps.sh --bench
	cmake -S . -B $(BUILD_DIR)-bench -DCMAKE_BUILD_TYPE=Release -DBRIVELA_BUILD_TESTS=OFF -DBRIVELA_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR)-bench --parallel $(JOBS)
	./$(BUILD_DIR)-bench/bench/brivela_bench
	./$(BUILD_DIR)-bench/bench/brivela_view_bench
	./$(BUILD_DIR)-bench/bench/brivela_recovery_bench
	./$(BUILD_DIR)-bench/bench/brivela_fill
	./$(BUILD_DIR)-bench/bench/brivela_save_bench
	./$(BUILD_DIR)-bench/bench/brivela_strokes
	./$(BUILD_DIR)-bench/bench/brivela_spread
	./$(BUILD_DIR)-bench/bench/brivela_save_stall stroke
	if [ -x ./$(BUILD_DIR)-bench/bench/brivela_colourquality ]; then ./$(BUILD_DIR)-bench/bench/brivela_colourquality; fi
	if [ -x ./$(BUILD_DIR)-bench/bench/brivela_spread_quality ]; then ./$(BUILD_DIR)-bench/bench/brivela_spread_quality; fi
	if [ -x ./$(BUILD_DIR)-bench/bench/brivela_fillquality ]; then ./$(BUILD_DIR)-bench/bench/brivela_fillquality /tmp/fill-overlays; fi

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench $(BUILD_DIR)-asan
