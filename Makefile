# The two commands of the README, plus the benchmarks and the Debian package. Each does its own
# set-up, and installs only what it needs: build and run need the compiler and Qt; the tests,
# the benchmarks and the package add their own tools.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
TEST_BUILD ?= build-test
BENCH_BUILD ?= build-bench
PACKAGE_BUILD ?= build-package

.PHONY: all deps build run test bench package install clean format

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
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(PACKAGE_BUILD) echowarden_*.deb
