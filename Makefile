# Front door for building and testing. `make demo` and `make test` work on a fresh Debian machine:
# they install what is missing with apt-get, build, and run the demo or every test.

PRESET ?= dev
APT_PACKAGES := cmake ninja-build g++ libgtest-dev
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build test test-quick test-sanitize tsan asan release demo bench faults install package \
	format clean

all: build

# Installs the build tools and GoogleTest when any of them is missing.
deps:
	@missing=""; \
	for p in $(APT_PACKAGES); do \
	    dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

release:
	$(MAKE) build PRESET=release

# Every test, slow ones (the 20-second timeouts) included.
test: build
	ctest --preset $(PRESET)

# The quick loop: everything but the tests labelled slow.
test-quick: build
	ctest --preset quick

# The operator's day against the simulated board: version, getconfig, updatesys, getconfig, erasesys.
demo: release
	bash scripts/demo.sh build/release

# The upload benchmark (a few minutes): prints a table, judges nothing.
bench: release
	build/release/bench/tvflash_bench

# What the link survives (a few minutes): the survival table under network faults and the
# many-boards figures. Prints, judges nothing.
faults: release
	build/release/bench/tvflash_faults

# Installs both programs and their manual pages, under PREFIX when given (default /usr/local).
install: release
	cmake --install build/release $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, left in build/release.
package: release
	cd build/release && cpack -G DEB

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# The whole suite under ThreadSanitizer, then under AddressSanitizer with UndefinedBehaviorSanitizer.
test-sanitize: tsan asan

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
