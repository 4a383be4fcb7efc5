# Convenience wrapper around CMake. `make test` is the whole suite, run twice:
# a Debug build with AddressSanitizer and UndefinedBehaviorSanitizer (assertions
# on) and a Release build (assertions compiled out).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
CMAKE ?= cmake

.PHONY: all test test-debug test-release release clean

all: release

release:
	$(CMAKE) -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DVELK_WERROR=ON
	$(CMAKE) --build $(BUILD)/release -j $(JOBS)

test: test-debug test-release

test-debug:
	$(CMAKE) -S . -B $(BUILD)/debug -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=ON -DVELK_WERROR=ON
	$(CMAKE) --build $(BUILD)/debug -j $(JOBS)
	cd $(BUILD)/debug && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

test-release: release
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
