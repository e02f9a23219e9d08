# The two commands of the README: `make demo` and `make test`. Everything else is
# for developers.
SHELL := /bin/bash
.PHONY: check-format screenshots release all deps build build-linux build-windows test test-linux test-windows test-asan test-tsan fuzz demo bench clean

all: build

deps:
	@./scripts/install-deps

build: deps build-linux build-windows

build-linux:
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux

build-windows:
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

test: build test-linux test-windows

# The tree keeps its .clang-format.
check-format:
	@git ls-files '*.cpp' '*.h' | grep -E '^(src|tools|tests)/' | xargs clang-format --dry-run --Werror

test-linux:
	@ctest --preset linux

# The Windows build's tests under Wine, with one wineserver for the whole run.
test-windows:
	@./scripts/test-windows

test-asan: deps
	@cmake --preset linux-asan >/dev/null
	@cmake --build --preset linux-asan
	@ctest --preset linux-asan

# The worker, its gate, the sync queue and the controls are threaded: the native
# suite under ThreadSanitizer.
test-tsan: deps
	@cmake --preset linux-tsan >/dev/null
	@cmake --build --preset linux-tsan
	@ctest --preset linux-tsan

# libFuzzer targets (clang) in build/fuzz, each run FUZZ_SECONDS (default 60) in turn.
FUZZ_SECONDS ?= 60
fuzz:
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz --target fuzzers
	@FUZZ_SECONDS=$(FUZZ_SECONDS) ./tests/fuzz/run-fuzzers

# HIDE=1 runs the same installation silently. Only what the demo itself runs is
# installed and built.
demo:
	@./scripts/install-deps --demo
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux --target demo-programs
	@python3 scripts/demo.py build/linux $(if $(HIDE),--hide)

bench: deps
	@cmake --preset linux -DLU_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset linux
	@./tools/bench/run-all build/linux

# The signed 32-bit program in build/release: the vendor's certificate and key as
# SIGN_PFX (or SIGN_CERT and SIGN_KEY), SIGN_PASS_FILE, SIGN_TIMESTAMP (RFC 3161
# servers), SIGN_CA; see scripts/release.
release: deps
	@./scripts/release

clean:
	rm -rf build

# Screenshots of every view and the retry dialog in every language at 96, 120 and
# 144 dpi, under Wine: build/windows/screenshots (build/windows-x64 where Wine runs
# no 32-bit program). Fails on a window that never shows.
screenshots: deps
	@preset=$$(/usr/lib/wine/wine --version >/dev/null 2>&1 && echo windows || echo windows-x64); \
	cmake --preset $$preset >/dev/null && cmake --build --preset $$preset && \
	cmake --preset linux >/dev/null && cmake --build --preset linux --target lu-defaults && \
	python3 scripts/screenshots.py build/$$preset
