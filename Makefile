# One-command entry points. Each installs what is missing, configures with the
# CMake presets and builds before it runs anything.
.PHONY: deps build run demo test test-default test-stress test-asan fuzz cross test-windows windows-kit windows windows-package windows-checks package test-package bench bench-windows clean

FUZZ_SECONDS ?= 60

deps:
	@scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default

# The window, against whatever ports the machine has (and any published
# simulated stations).
run: build
	./build/default/app/rechannel

# The main job, headless, against the built-in simulated station.
demo: build
	./build/default/cli/rechannel-cli program --simulate

test: deps test-default test-asan fuzz cross test-windows test-package

test-default:
	cmake --preset default
	cmake --build --preset default
	ctest --preset default

# The default suite three times while a two-job compile loads the machine:
# the suite must not depend on an idle machine.
test-stress: build
	scripts/test-stress

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

# The Windows build stays possible: cross-compile the Qt-free device link and
# port discovery (their Win32 backends), and the Win32 test program that
# test-windows runs, with mingw-w64.
cross:
	@scripts/install-deps cross
	cmake --preset mingw
	cmake --build --preset mingw

# The Win32 transport run for real: the cross-built test program under Wine,
# in a private prefix under build/mingw, against simulated stations on ptys
# mapped as COM ports. Fails, and says why, where Wine cannot run.
# Then the whole Windows product (windows-checks): the kit is found or built
# first, and says so.
test-windows: cross
	cmake --preset default
	cmake --build --preset default --target win32_link_driver
	build/default/tests/win32/win32_link_driver \
	  --exe build/mingw/tests/win32/win32_link_test.exe --prefix build/mingw/wineprefix
	$(MAKE) windows-checks

# Debian's Qt and pugixml cross-built for Windows with mingw-w64, once per
# machine, in ~/.cache/rechannel (about 20 minutes on two cores the first
# time). Prints the kit's path; --check also runs a Widgets program built
# with it under Wine.
windows-kit:
	@scripts/install-deps windows
	scripts/windows-kit --check

# The whole product for Windows (rechannel.exe, rechannel-cli.exe and the
# DLLs they load, in build/windows/bin), cross-built with the Windows kit;
# a missing kit is built first (scripts/windows-kit says so, with its time).
windows:
	@scripts/install-deps windows
	RECHANNEL_WINDOWS_KIT=$$(scripts/windows-kit) && export RECHANNEL_WINDOWS_KIT && \
	  cmake --preset windows && cmake --build --preset windows

# build/windows/package: rechannel-<version>-win64.zip (portable) and
# rechannel-<version>-win64-setup.exe (NSIS, 64-bit, Debian's makensis).
windows-package: windows
	cmake --build --preset windows --target package

# The Windows programs run under Wine against simulated stations on ptys
# mapped as COM ports, the window on Xvfb, and the installer installed and
# removed silently (scripts/windows-checks).
windows-checks: build windows-package
	scripts/windows-checks --package build/default build/windows
	scripts/windows-fleet-check build/default build/windows

# The Debian package: both programs, menu entry, icon, man pages, completion.
package: build
	cmake --build --preset default --target package

# Installs the package on this machine, runs it from the installed paths and
# removes it again (needs root or sudo).
test-package: package
	scripts/package-roundtrip build/default/package

bench: build
	bench/run-all build/default

# The programming run through rechannel-cli.exe under Wine beside the native
# one, against paced simulated stations (bench/windows/run-wine-bench). By
# hand only, like bench.
bench-windows: build windows
	bench/windows/run-wine-bench build/default build/windows

clean:
	rm -rf build
