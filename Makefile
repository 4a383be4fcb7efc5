# Convenience wrapper around CMake. `make test` is the whole suite, run twice:
# a Debug build with AddressSanitizer and UndefinedBehaviorSanitizer (assertions
# on) and a Release build (assertions compiled out). Both run even when the
# first fails, and the last line says which failed. The test suite needs
# GoogleTest; `make release` and installing do not.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
CMAKE ?= cmake

.PHONY: all test test-debug test-release release release-tests clean

all: release

release:
	$(CMAKE) -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DVELK_WERROR=ON -DVELK_BUILD_TESTS=OFF
	$(CMAKE) --build $(BUILD)/release -j $(JOBS)

release-tests:
	$(CMAKE) -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DVELK_WERROR=ON -DVELK_BUILD_TESTS=ON
	$(CMAKE) --build $(BUILD)/release -j $(JOBS)

test:
	@failed=""; \
	$(MAKE) --no-print-directory test-debug || failed="$$failed Debug"; \
	$(MAKE) --no-print-directory test-release || failed="$$failed Release"; \
	if [ -n "$$failed" ]; then echo "make test: FAILED:$$failed"; exit 1; fi; \
	echo "make test: the Debug and the Release suites passed"

test-debug:
	$(CMAKE) -S . -B $(BUILD)/debug -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=ON -DVELK_WERROR=ON -DVELK_BUILD_TESTS=ON
	$(CMAKE) --build $(BUILD)/debug -j $(JOBS)
	cd $(BUILD)/debug && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

test-release: release-tests
	cd $(BUILD)/release && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# The threading tests (parallel parses, deletes from other threads, the spare
# slabs shared between threads, fork while threads allocate) under
# ThreadSanitizer, on an optimised build with debug information.
TSAN_FILTER ?= PoolThreads.*

.PHONY: tsan
tsan:
	$(CMAKE) -S . -B $(BUILD)/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_SANITIZE_THREAD=ON -DVELK_WERROR=ON -DVELK_BUILD_TESTS=ON
	$(CMAKE) --build $(BUILD)/tsan -j $(JOBS) --target velk_tests
	cd $(BUILD)/tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ./tests/velk_tests --gtest_filter='$(TSAN_FILTER)'

# The benchmark against pugixml, libxml2 and expat: the full table, tracking
# cost and scaling (see bench/run for options; on a busy machine
# make bench BENCH_ARGS="--clock cpu", for the table alone --mode table).
.PHONY: bench
bench:
	./bench/run $(BENCH_ARGS)

# The README's first command: build a Release tree of the library and the tool
# (without the test suite, so that it needs only a compiler and CMake) and run
# the tool on the bundled samples in examples/.
.PHONY: demo install-check
demo:
	$(CMAKE) -S . -B $(BUILD)/demo -DCMAKE_BUILD_TYPE=Release -DVELK_BUILD_TESTS=OFF
	$(CMAKE) --build $(BUILD)/demo -j $(JOBS) --target velk_tool
	bash examples/demo.sh $(abspath $(BUILD))/demo/tools/velk

# Install into temporary prefixes other than the configured one (through
# `cmake --install --prefix` and through DESTDIR), then build and run
# tests/consumer against each installed tree through find_package and
# pkg-config (shared and static).
install-check:
	JOBS=$(JOBS) bash tests/consumer/install-check.sh

# Fuzzing: every libFuzzer target for FUZZ_SECONDS seconds each (clang,
# AddressSanitizer, UndefinedBehaviorSanitizer); fails on any finding.
FUZZ_SECONDS ?= 60
FUZZ_CXX ?= clang++

.PHONY: fuzz fuzz-build valgrind

fuzz-build:
	$(CMAKE) -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	  -DVELK_BUILD_FUZZ=ON -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_TOOLS=OFF -DBUILD_SHARED_LIBS=OFF
	$(CMAKE) --build $(BUILD)/fuzz --target velk_fuzzers -j $(JOBS)

fuzz: fuzz-build
	fuzz/run.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

# The suite (parse, edit, stream, file and output tests; not the stress tests,
# which only take long there) under valgrind memcheck, on the Release build:
# any memory error or leak fails. A negative filter, so that every other suite
# stays covered whatever its name.
VALGRIND_FILTER ?= -Stress.*

valgrind: release-tests
	cd $(BUILD)/release && valgrind --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \
	  --errors-for-leak-kinds=definite,indirect,possible --quiet \
	  ./tests/velk_tests --gtest_filter='$(VALGRIND_FILTER)'
