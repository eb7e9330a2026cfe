# Quick start:  make run   (build and start the desktop program)
#               make test  (build and run the whole test suite)
#               make windows, make test-windows  (Windows build, installer, tests under Wine)
# Each target installs what it needs first.

BUILD    ?= build
WINBUILD ?= build-windows
SANITIZE ?= OFF
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# Extra ctest arguments, e.g. TEST_ARGS='-LE end-to-end' (labels: unit, end-to-end, tree).
TEST_ARGS ?=

.PHONY: all deps configure build run package manual check-package test test-sanitize test-usb fuzz bench windows test-windows format check-format tidy ci clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DQUARVEL_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Builds the desktop program and its manual (for Help > Manual), then starts it on the virtual
# selector. Where the manual's pictures cannot be made (no xvfb-run) the pages come without them;
# make manual makes the full one.
run: configure
	@cmake --build $(BUILD) --target quarvel -j $(JOBS)
	@cmake --build $(BUILD) --target manual -j $(JOBS) >$(BUILD)/manual.log 2>&1 || { \
		cat $(BUILD)/manual.log >&2; \
		echo "make run: the manual did not build (above); making it without its pictures (make manual makes the full one)" >&2; \
		cmake --build $(BUILD) --target manual-without-pictures >/dev/null 2>&1; \
		test -f $(BUILD)/manual/index.html || echo "make run: no manual could be made; Help > Manual will not find it" >&2; }
	@scripts/run.sh $(BUILD)

# The technician's manual in $(BUILD)/manual (pictures made by quarvel itself under Xvfb); fails on
# a broken link, a missing picture or a quoted message or control name the programs do not have.
manual: configure
	@cmake --build $(BUILD) --target manual -j $(JOBS)

# A .deb with quarvel and quarvelctl, their man pages, the manual, completion and metadata, in $(BUILD).
package: configure
	@cmake --build $(BUILD) --target quarvel quarvelctl manpages changelog manual -j $(JOBS)
	@cd $(BUILD) && cpack -G DEB

# The .deb through lintian, desktop-file-validate and appstreamcli validate.
check-package:
	@scripts/check-package.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300 $(TEST_ARGS)

# The unit and driver suites under AddressSanitizer and UndefinedBehaviorSanitizer; the programs'
# end-to-end runs and the include-level check are the normal build's.
test-sanitize:
	@$(MAKE) --no-print-directory test BUILD=build-sanitize SANITIZE=ON TEST_ARGS="-LE 'end-to-end|tree'"

# Bounded libFuzzer runs of the file readers (Clang; needs no Qt).
fuzz: deps
	@CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DQUARVEL_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@cd build-fuzz && ctest --output-on-failure

# Builds only what the benchmarks need, runs them and prints one table of figures against
# their targets (about two minutes; figures from a quiet machine mean most).
bench: configure
	@cmake --build $(BUILD) --target link_bench gang_bench desktop_link_bench sampling_idle_bench cores_bench startup_bench \
		minimal_window quarvel quarvelctl -j $(JOBS)
	@bench/run_benches.sh $(BUILD)

# Windows x86-64, cross-built with MinGW-w64 and Qt for it (scripts/windows-toolchain.sh), in
# $(WINBUILD): quarvel.exe and quarvelctl.exe, the folder they deploy to (deploy/), the installer
# quarvel-<version>-win64-setup.exe, the portable quarvel-<version>-win64.zip and the test programs.
# The manual comes from the Linux build: its pictures are made by running the program.
windows: manual
	@scripts/install-deps.sh --windows
	@toolchain=$$(scripts/windows-toolchain.sh) && \
		cmake -S . -B $(WINBUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=$$toolchain \
		-DQUARVEL_MANUAL_DIR=$(abspath $(BUILD))/manual >/dev/null
	@cmake --build $(WINBUILD) -j $(JOBS)
	@rm -rf $(WINBUILD)/deploy
	@cmake --install $(WINBUILD) --prefix $(WINBUILD)/deploy --strip >/dev/null
	@cd $(WINBUILD) && { cpack >cpack.log || { cat cpack.log; exit 1; }; } && grep 'package:' cpack.log

# The Windows build under Wine: its test programs, the installer, quarvelctl.exe on a COM port and
# quarvel.exe under Xvfb, held against the Linux build's quarvelctl.
test-windows: windows configure
	@cmake --build $(BUILD) --target quarvelctl -j $(JOBS)
	@scripts/windows-tests.sh $(WINBUILD) $(BUILD)

# The port tests on the Linux kernel's own FTDI driver, in a QEMU guest (scripts/usb-guest.sh) with
# emulated adapters and the virtual selector at their host end; USB_TESTS='ports exact' runs some.
test-usb: configure
	@scripts/install-deps.sh --usb
	@cmake --build $(BUILD) --target quarvelctl quarvel -j $(JOBS)
	@tests/usb/run.sh $(BUILD) $(USB_TESTS)

format:
	@find src tests cli app bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

# Fails, listing the files, when clang-format would change any.
check-format: deps
	@find src tests cli app bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run -Werror

# clang-tidy (.clang-tidy) over the sources changed since main, failing on any warning;
# TIDY=--all for the whole tree.
tidy: configure
	@scripts/run-clang-tidy.sh $(BUILD) $(TIDY)

# What CI runs first: the tree formatted, the levels kept (once, here), the suite built with
# warnings as errors, and clang-tidy over the changed sources.
ci: check-format
	@scripts/check-layers.sh
	@$(MAKE) --no-print-directory test CMAKE_FLAGS="$(CMAKE_FLAGS) -DQUARVEL_WERROR=ON" TEST_ARGS="-LE tree"
	@scripts/run-clang-tidy.sh $(BUILD)

clean:
	rm -rf build build-sanitize build-fuzz build-windows
