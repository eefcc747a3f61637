# Front door for building and testing. `make demo` and `make test` work on a fresh Debian machine:
# they install what is missing with apt-get, build, and run the demo or every test. `make help`
# lists the targets.

PRESET ?= dev
# What the targets install with apt-get when it is missing. A release build needs the compiler,
# the build tools, and the libraries of tvflash-fleet: JSON, SQLite for the station's database,
# libpq for the line's shared one, and the HTTP library of its page (found through pkg-config).
RELEASE_APT_PACKAGES := cmake ninja-build g++ nlohmann-json3-dev libsqlite3-dev libpq-dev \
	libcpp-httplib-dev pkgconf
# A real browser, headless, for the station page's tests and figures, with a font to draw it.
BROWSER_APT_PACKAGES := chromium fonts-dejavu-core
# The tests add GoogleTest, tshark and tcpdump for the dissector's tests, the PostgreSQL server
# that the shared database's tests start, and the browser; DEBIAN_FRONTEND (kept through sudo)
# answers wireshark-common's question about capture rights with its default, so nothing waits for
# input.
APT_PACKAGES := $(RELEASE_APT_PACKAGES) libgtest-dev tshark tcpdump postgresql $(BROWSER_APT_PACKAGES)
FUZZ_APT_PACKAGES := cmake ninja-build clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60
# clang 14's libFuzzer; plain clang++ where clang++-14 is not installed under that name.
FUZZ_CXX ?= $(shell command -v clang++-14 || echo clang++)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# lintian checks the Debian package that `make package` builds.
PACKAGE_APT_PACKAGES := lintian
VERSION := $(shell grep -m 1 '^project' CMakeLists.txt | grep -o 'VERSION [0-9.]*' | cut -d ' ' -f 2)

# The Windows build: the cross compiler, GoogleTest's sources for its unit tests, Wine, which runs
# them (also while building, to list them), groff for the manual pages as text in the zip, the
# JSON headers tvflash-fleet.exe is built with, the certificates with which CMake fetches SQLite's
# source from the npm registry over HTTPS, and patch, which applies Debian's patches to the HTTP
# library's source the build fetches from Debian's archive.
WINDOWS_APT_PACKAGES := cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 \
	groff-base nlohmann-json3-dev ca-certificates patch
# Its tests: a virtual display with xdotool for the message boxes, and ImageMagick's import, which
# photographs the console window in the console tests.
WINDOWS_TEST_APT_PACKAGES := xvfb xdotool imagemagick

.PHONY: all help deps release-deps windows-deps windows-test-deps fuzz-deps apt-install build test \
	test-quick test-sanitize tsan asan fuzz release demo demo-fleet bench faults install package \
	windows test-windows package-windows format clean

all: build

# The targets that carry a "## " note, one line each.
help: ## this list
	@awk -F ':.*## ' '/^[a-z-]+:.*## / { printf "  %-16s %s\n", $$1, $$2 }' $(MAKEFILE_LIST)

# Installs the build tools and the tests' packages when any of them is missing.
deps:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(APT_PACKAGES)"

release-deps:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(RELEASE_APT_PACKAGES)"

windows-deps:
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(WINDOWS_APT_PACKAGES)"

windows-test-deps: deps
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(WINDOWS_TEST_APT_PACKAGES)"

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

build: deps ## the debug build with its tests, in build/dev (PRESET=... for another preset)
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

release: release-deps ## the optimised programs, without tests, in build/release
	cmake --preset release
	cmake --build --preset release

# Every test, slow ones (the 20-second timeouts) included.
test: build ## builds and runs every test (a few minutes)
	ctest --preset $(PRESET)

# The quick loop: everything but the tests labelled slow.
test-quick: build ## every test but the slow ones and the hostile board
	ctest --preset quick

# The operator's day against the simulated board: version, getconfig, updatesys, getconfig, erasesys.
demo: release ## an operator's day against a simulated board
	bash scripts/demo.sh build/release

# The fleet's quick start: the recipe of examples/ on simulated boards at the places of its target
# file (127.0.0.2 and up), with the images of examples/make-images.sh, every stored image compared.
demo-fleet: release ## tvflash-fleet runs the example recipe on four simulated boards
	bash scripts/demo_fleet.sh build/release

# The upload benchmark (a few minutes): prints a table, judges nothing.
bench: release ## the upload benchmark (a few minutes)
	build/release/bench/tvflash_bench

# What the link survives (a few minutes): the survival table under network faults and the
# many-boards figures, then tvflash-fleet's figures (64 boards at once, its CPU, a /24 scan of
# 127.0.0.0/24, 1000 targets at -j 256 within 1024 open files, which prlimit of util-linux sets;
# the station page open in chromium, in one tab and in 20). Prints, judges nothing.
faults: release ## uploads under network faults, many boards at once (a few minutes)
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(BROWSER_APT_PACKAGES)"
	build/release/bench/tvflash_faults

# Installs the programs and their manual pages, under PREFIX when given (default /usr/local).
install: release ## installs the programs, manual pages, completion and documents (PREFIX=...)
	cmake --install build/release $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package, left in build/release, then checked by lintian: any error or warning fails.
package: release ## the Debian package in build/release, checked by lintian
	@$(MAKE) --no-print-directory apt-install PACKAGES="$(PACKAGE_APT_PACKAGES)"
	cd build/release && cpack -G DEB
	lintian --allow-root --fail-on error,warning build/release/tvflash_$(VERSION)_$$(dpkg --print-architecture).deb

# tvflash.exe, tvflash-fleet.exe and tvflash-sim.exe for 64-bit Windows, linked statically, in
# build/windows, with the demo beside them.
windows: windows-deps ## the Windows build with mingw-w64, in build/windows
	cmake --preset windows
	cmake --build --preset windows

# The Windows build's unit tests under Wine, then the whole end-to-end suite against tvflash.exe,
# tvflash-sim.exe with the simulator's tests, and the zip's demo.cmd.
test-windows: windows windows-test-deps ## the Windows build's tests under Wine
	$(MAKE) build PRESET=dev
	bash scripts/test_windows.sh

# The Windows zip: the three programs, demo.cmd with tvflash-demo.exe, the README and every
# document, the manual pages as text and the Wireshark dissector, left in build/windows.
package-windows: windows ## the Windows zip in build/windows
	cd build/windows && cpack -G ZIP

tsan: deps ## the suite under ThreadSanitizer
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

asan: deps ## the suite under AddressSanitizer and UndefinedBehaviorSanitizer
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# The whole suite under ThreadSanitizer, then under AddressSanitizer with UndefinedBehaviorSanitizer.
test-sanitize: tsan asan ## tsan, then asan

# Builds the libFuzzer targets of tests/fuzz with clang and runs each for FUZZ_SECONDS seconds
# (default 60), as many at once as there are processors (FUZZ_JOBS to choose); fails when any of
# them finds an input that breaks it.
# FUZZ_TARGETS="on_datagram parse_area_reply" runs only those.
fuzz: fuzz-deps ## every fuzz target for FUZZ_SECONDS (60) seconds
	cmake --preset fuzz -DCMAKE_CXX_COMPILER=$(FUZZ_CXX)
	cmake --build --preset fuzz
	FUZZ_TARGETS="$(FUZZ_TARGETS)" bash scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS)

format: ## clang-format every source file
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean: ## removes build/
	rm -rf build
