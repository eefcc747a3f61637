# Front door for building and testing. `make demo` and `make test` work on a fresh Debian machine:
# they install what is missing with apt-get, build, and run the demo or every test.

PRESET ?= dev
# tshark and tcpdump serve the dissector's tests; DEBIAN_FRONTEND (kept through sudo) answers
# wireshark-common's question about capture rights with its default, so nothing waits for input.
APT_PACKAGES := cmake ninja-build g++ libgtest-dev nlohmann-json3-dev tshark tcpdump
FUZZ_APT_PACKAGES := cmake ninja-build clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60
# clang 14's libFuzzer; plain clang++ where clang++-14 is not installed under that name.
FUZZ_CXX ?= $(shell command -v clang++-14 || echo clang++)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# lintian checks the Debian package that `make package` builds.
PACKAGE_APT_PACKAGES := lintian
VERSION := $(shell grep -m 1 '^project' CMakeLists.txt | grep -o 'VERSION [0-9.]*' | cut -d ' ' -f 2)

WINDOWS_APT_PACKAGES := g++-mingw-w64-x86-64-posix wine wine64 xvfb xdotool
# ImageMagick's import photographs the console window in the console tests.
WINDOWS_APT_PACKAGES += imagemagick

.PHONY: all deps windows-deps fuzz-deps apt-install build test test-quick test-sanitize tsan asan \
	fuzz release demo bench faults install package windows test-windows package-windows format \
	clean

all: build

# Installs the build tools and GoogleTest when any of them is missing.
deps:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(APT_PACKAGES)"

# The cross compiler for Windows, Wine to run its programs, and a virtual display with xdotool for
# the message boxes.
windows-deps: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(WINDOWS_APT_PACKAGES)"

# Installs clang and its libFuzzer runtime when missing.
fuzz-deps:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(FUZZ_APT_PACKAGES)"

apt-install:
	@missing=""; \
	for p in $(PACKAGES); do \
	    dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update && \
	    $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
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
# many-boards figures, then tvflash-fleet's figures (64 boards at once, its CPU, a /24 scan of
# 127.0.0.0/24, 1000 targets at -j 256 within 1024 open files; prlimit comes with util-linux). Prints, judges nothing.
faults: release
	build/release/bench/tvflash_faults

# Installs the programs and their manual pages, under PREFIX when given (default /usr/local).
install: release
	cmake --install build/release $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, left in build/release, then checked by lintian: any error or warning fails.
package: release
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(PACKAGE_APT_PACKAGES)"
	cd build/release && cpack -G DEB
	lintian --allow-root --fail-on error,warning build/release/tvflash_$(VERSION)_$$(dpkg --print-architecture).deb

# tvflash.exe and tvflash-fleet.exe for 64-bit Windows, linked statically, in build/windows, with
# tvflash-sim.exe and the demo beside them.
windows: windows-deps
	cmake --preset windows
	cmake --build --preset windows

# The Windows build's unit tests under Wine, then the whole end-to-end suite against tvflash.exe,
# tvflash-sim.exe with the simulator's tests, and the zip's demo.cmd.
test-windows: windows
	$(MAKE) build PRESET=dev
	bash scripts/test_windows.sh

# The Windows zip: tvflash.exe, tvflash-fleet.exe, tvflash-sim.exe, demo.cmd with tvflash-demo.exe,
# the README, the manual pages as text, the protocol description, the operator's documents and the
# Wireshark dissector, left in build/windows.
package-windows: windows
	cd build/windows && cpack -G ZIP

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

# Builds the libFuzzer targets of tests/fuzz with clang and runs each for FUZZ_SECONDS seconds
# (default 60), as many at once as there are processors (FUZZ_JOBS to choose); fails when any of
# them finds an input that breaks it.
# FUZZ_TARGETS="on_datagram parse_area_reply" runs only those.
fuzz: fuzz-deps
	cmake --preset fuzz -DCMAKE_CXX_COMPILER=$(FUZZ_CXX)
	cmake --build --preset fuzz
	FUZZ_TARGETS="$(FUZZ_TARGETS)" bash scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
