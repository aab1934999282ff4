# make demo   - install what is missing, build, run the ad server and the app
# make check  - install what is missing, build, run every test
# make check-asan - the unit and GTK tests built and run under the address and
#                undefined-behaviour sanitizers, in $(ASAN_BUILD)/
# make bench  - the benchmarks, printing ratios measured side by side
# make fuzz   - the parsers' fuzz targets for a bounded time (clang)
# make soak   - mensajes under reloads every second for SOAK_SECONDS (default 30 min)
# make fuzz-long - each fuzz target until it has run FUZZ_RUNS inputs (10 million)
# make install PREFIX=/usr/local - build, then install the application, the
#                ad server and the library (DESTDIR is honoured)
# make package - build, then the Debian package in $(BUILD)/
BUILD ?= build
JOBS ?= 2
WERROR ?= $(if $(CI),ON,OFF)
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 1800
FUZZ_RUNS ?= 10000000
PREFIX ?= /usr/local
ASAN_BUILD ?= build-asan

.PHONY: all deps configure build check check-asan unit integration soak demo bench fuzz fuzz-long install package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_WERROR=$(WERROR) \
	  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

check: build
	@cd $(BUILD) && ctest --output-on-failure

# Only what the tests run is built: no benches, no shared library.
check-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNIMBRA_WERROR=$(WERROR) -DNIMBRA_SANITIZE=ON \
	  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS) --target unit_tests integration_tests
	@cd $(ASAN_BUILD) && ctest --output-on-failure

unit: build
	@cd $(BUILD) && ctest --output-on-failure -R '^unit$$'

integration: build
	@cd $(BUILD) && ctest --output-on-failure -R '^integration$$'

soak: build
	@NIMBRA_SOAK_SECONDS=$(SOAK_SECONDS) scripts/with-test-env $(BUILD)/tests/integration_tests --gtest_filter='Soak.*'

demo: build
	@scripts/demo $(BUILD)

bench: build
	@scripts/run-bench $(BUILD)

fuzz: deps
	@scripts/run-fuzz $(FUZZ_SECONDS)

fuzz-long: deps
	@scripts/run-fuzz --runs $(FUZZ_RUNS)

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz
