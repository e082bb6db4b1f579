# The two commands of the README:
#   make run   builds in Release and runs the main job: the host tool on the
#              bundled example
#   make test  builds and runs every test through CTest
# Both install missing Debian packages first when they can.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR ?= build-release
TEST_DIR ?= build

DEB_PACKAGES := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libpng-dev

.PHONY: run test bench deps clean

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

run: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DSRF_BUILD_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	@if [ -x $(RELEASE_DIR)/tools/srf/srf ]; then \
	  $(RELEASE_DIR)/tools/srf/srf render; \
	else \
	  $(RELEASE_DIR)/srf_example_host; \
	fi

test: deps
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(TEST_DIR) -j $(JOBS)
	ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DSRF_BUILD_TESTS=OFF -DSRF_BUILD_BENCH=ON
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target srf_bench
	$(RELEASE_DIR)/bench/srf_bench

clean:
	rm -rf $(RELEASE_DIR) $(TEST_DIR)
