# The two commands of the README:
#   make run   builds in Release and runs the main job: the host tool on the
#              bundled example
#   make test  builds and runs every test through CTest
# Both install missing Debian packages first when they can.
#
# Reliability (see the README):
#   make sanitize    the whole suite under AddressSanitizer and
#                    UndefinedBehaviorSanitizer (preset asan), then the
#                    concurrency tests under ThreadSanitizer (preset tsan)
#   make fuzz        each libFuzzer target for FUZZ_SECONDS (default 600)
#   make fuzz-smoke  each libFuzzer target for 30 s

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Each target configures, builds and tests through its preset of
# CMakePresets.json, whose folders these are.
RELEASE_DIR := build-release
BENCH_DIR := build-bench
TEST_DIR := build
# make install: where the Release build goes (bin/srf, the libraries and
# headers, share/srf/examples, the Python package).
PREFIX ?= /usr/local

# The robust fitter needs Ceres; the Python module pybind11, numpy and
# pytest for its tests, matplotlib for its plots and Dask's distributed
# scheduler for fitting many files.
DEB_PACKAGES := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libopenexr-dev clang libclang-rt-14-dev \
	libeigen3-dev libceres-dev pybind11-dev python3-dev python3-numpy python3-pytest python3-matplotlib python3-distributed

.PHONY: run test bench install deps clean sanitize asan tsan fuzz fuzz-build fuzz-smoke

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "please install these Debian packages:$$missing" >&2; exit 1; \
	  fi; \
	fi

# Configures and builds one preset of CMakePresets.json: $(call build,NAME).
build = cmake --preset $(1) && cmake --build --preset $(1) -j $(JOBS)

run: deps
	$(call build,release)
	@if [ -x $(RELEASE_DIR)/tools/srf/srf ]; then \
	  $(RELEASE_DIR)/tools/srf/srf render && \
	  echo "the tool is $(RELEASE_DIR)/tools/srf/srf ('make install PREFIX=DIR' puts it in DIR/bin);" && \
	  if [ -d $(RELEASE_DIR)/python/srf ]; then \
	    echo "the Python module: PYTHONPATH=$(RELEASE_DIR)/python /usr/bin/python3 -c 'import srf'"; \
	  fi; \
	else \
	  $(RELEASE_DIR)/srf_example_host; \
	fi

install: deps
	$(call build,release)
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)
	@echo "installed $(PREFIX)/bin/srf; examples in $(PREFIX)/share/srf/examples"

test: deps
	$(call build,dev)
	ctest --preset dev -j $(JOBS)

bench: deps
	$(call build,bench)
	$(BENCH_DIR)/bench/srf_bench

# --- Reliability ---------------------------------------------------------
ASAN_DIR := build-asan
TSAN_DIR := build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZERS := measured shader fitreader
# The sanitizer presets say which tests run: asan all but the packaging
# test (a host built without the sanitizers against the installed libraries,
# which cannot load the sanitizer runtime first; make test runs it), tsan the
# tests that run threads (Stress|Thread).
sanitize: asan tsan

asan: deps
	$(call build,asan)
	ctest --preset asan -j $(JOBS)

tsan: deps
	$(call build,tsan)
	ctest --preset tsan

fuzz-build: deps
	cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_DIR) -j $(JOBS)

# Each target runs on its own corpus folder in the build tree, seeded from
# fuzz/corpus; a crash leaves its input as $(FUZZ_DIR)/crash-NAME-* and
# fails the run.
fuzz: fuzz-build
	@for f in $(FUZZERS); do \
	  mkdir -p $(FUZZ_DIR)/corpus-$$f; \
	  echo "fuzz_$$f: $(FUZZ_SECONDS) s"; \
	  if ! $(FUZZ_DIR)/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -timeout=30 -rss_limit_mb=4096 \
	      -dict=fuzz/$$f.dict -artifact_prefix=$(FUZZ_DIR)/crash-$$f- -print_final_stats=1 \
	      $(FUZZ_DIR)/corpus-$$f fuzz/corpus/$$f > $(FUZZ_DIR)/fuzz_$$f.log 2>&1; then \
	    tail -n 80 $(FUZZ_DIR)/fuzz_$$f.log; echo "fuzz_$$f failed"; exit 1; \
	  fi; \
	  grep -E '^(Done|stat::number_of_executed_units)' $(FUZZ_DIR)/fuzz_$$f.log; \
	done

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=30

clean:
	rm -rf $(RELEASE_DIR) $(BENCH_DIR) $(TEST_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
