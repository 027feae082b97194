# The two commands of the README, plus the benchmarks and the Debian package. Each does its own
# set-up, and installs only what it needs: build and run need the compiler and Qt; the tests,
# the benchmarks and the package add their own tools.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
TEST_BUILD ?= build-test
BENCH_BUILD ?= build-bench
PACKAGE_BUILD ?= build-package
FUZZ_BUILD ?= build-fuzz
# How long each fuzz target runs: a minute in make fuzz, a few seconds in make test.
FUZZ_SECONDS ?= 60

.PHONY: all deps build run test fuzz bench package install clean format

all: build

deps:
	./scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEW_BUILD_TESTS=OFF -DEW_BUILD_BENCH=OFF

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target echowarden

run: build
	./$(BUILD)/echowarden

# The tests run under AddressSanitizer and UndefinedBehaviorSanitizer, headless. A developer's
# build: warnings are errors.
test: deps
	./scripts/install-deps.sh test
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DEW_SANITIZE=ON -DEW_BUILD_BENCH=OFF \
	  -DEW_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=5

# The fuzz targets of fuzz/: libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer,
# built with clang. Each starts from its seeds and from what earlier runs added (kept in the
# build folder: fuzz/ holds the seeds only). Any crash, leak or sanitizer report fails the run,
# with its log shown and the input that caused it kept beside the log.
fuzz: deps
	./scripts/install-deps.sh test
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@failed=""; for seeds in fuzz/corpus/*/; do \
	  t=$$(basename "$$seeds"); log=$(FUZZ_BUILD)/fuzz_$$t.log; mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  if UBSAN_OPTIONS=print_stacktrace=1 ./$(FUZZ_BUILD)/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	       -timeout=10 -artifact_prefix=$(FUZZ_BUILD)/$$t- $(FUZZ_BUILD)/corpus/$$t "$$seeds" \
	       > "$$log" 2>&1; then \
	    echo "fuzz_$$t: $$(grep -h DONE "$$log")"; \
	  else tail -n 40 "$$log"; echo "fuzz_$$t: FAILED, see $$log"; failed="$$failed $$t"; fi; \
	done; if [ -n "$$failed" ]; then echo "== fuzz targets failed:$$failed"; exit 1; fi

# The benchmarks: a Release build of the program and the benchmark programs, no tests. Every
# benchmark program runs, even after one has failed, so that one run shows every figure; the
# aim lines of all are repeated at the end, and the run fails when any program failed.
bench: deps
	./scripts/install-bench-deps.sh
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DEW_BUILD_TESTS=OFF -DEW_BUILD_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@mkdir -p $(BENCH_BUILD)/figures; rm -f $(BENCH_BUILD)/figures/*; failed=""; \
	for b in $(BENCH_BUILD)/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; n=$$(basename "$$b"); echo "== $$n"; \
	  ( QT_QPA_PLATFORM=offscreen "$$b"; echo $$? > $(BENCH_BUILD)/figures/$$n.status ) 2>&1 \
	    | tee $(BENCH_BUILD)/figures/$$n.txt; \
	  [ "$$(cat $(BENCH_BUILD)/figures/$$n.status)" = 0 ] || failed="$$failed $$n"; \
	done; \
	echo; echo "== every figure against its aim"; \
	grep -h -e '(aim:' -e ': not measured' $(BENCH_BUILD)/figures/*.txt; \
	if [ -n "$$failed" ]; then echo "== failed:$$failed"; exit 1; fi

# echowarden_<version>_<arch>.deb in this folder, checked by lintian (errors fail, warnings are
# shown).
package: deps
	./scripts/install-deps.sh package
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEW_BUILD_TESTS=OFF \
	  -DEW_BUILD_BENCH=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
	cp $(PACKAGE_BUILD)/echowarden_*.deb .
	lintian --fail-on error echowarden_*.deb

install: build
	cmake --install $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(PACKAGE_BUILD) $(FUZZ_BUILD) echowarden_*.deb
