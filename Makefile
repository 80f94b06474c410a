# Tessarin: every goal first installs what it needs (scripts/ensure-deps.sh), then drives CMake.
#
#   make / make build   the Windows program and tools (build/win) and the native core (build/native)
#   make test           native unit tests, then the window and end-to-end tests under Wine
#   make demo           opens the tool on the demo test LAN (on $DISPLAY, or headless with a screenshot)
#   make dist           the release zip in build/dist
#   make fuzz           each fuzz target for FUZZ_SECONDS (default 300)
#   make bench          the benchmarks (discovery at scale on the test LAN)

BUILD_DIR  := build
WIN_DIR    := $(BUILD_DIR)/win
NATIVE_DIR := $(BUILD_DIR)/native
DIST_DIR   := $(BUILD_DIR)/dist
VERSION    := 4.1.46.5
JOBS       ?= $(shell nproc)

FUZZ_SECONDS ?= 300

.PHONY: all build test demo dist fuzz bench clean

all: build

build:
	scripts/ensure-deps.sh build
	cmake -S . -B $(WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_DIR) -j $(JOBS)
	cmake -S . -B $(NATIVE_DIR) -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NATIVE_DIR) -j $(JOBS)

test: build
	scripts/ensure-deps.sh test
	ctest --test-dir $(NATIVE_DIR) --output-on-failure -j 2
	tests/fuzz/build.sh --run 10
	# Wine now and then fails to start a program at all, silently and before its main; a
	# failing Wine test runs once more, and the log keeps the first failure.
	tests/lan/sandbox -- ctest --test-dir $(WIN_DIR) --output-on-failure --repeat until-pass:2

demo: build
	scripts/ensure-deps.sh demo
	TESSARIN_DEMO_HEADLESS=$(if $(DISPLAY),0,1) tests/lan/testlan --lan tests/lan/demo.lan --keep-display -- scripts/demo.sh $(WIN_DIR)

dist: build
	rm -rf $(DIST_DIR) && mkdir -p $(DIST_DIR)/Tessarin
	cp $(WIN_DIR)/Tessarin.exe $(WIN_DIR)/DVSNETClient.dll $(DIST_DIR)/Tessarin/
	cp -r $(WIN_DIR)/Skin $(DIST_DIR)/Tessarin/
	cd $(DIST_DIR) && zip -qr -X Tessarin-$(VERSION).zip Tessarin
	@echo "release: $(DIST_DIR)/Tessarin-$(VERSION).zip"

fuzz:
	scripts/ensure-deps.sh fuzz
	tests/fuzz/build.sh --run $(FUZZ_SECONDS)

bench: build
	scripts/ensure-deps.sh test
	bench/discovery_scale.py
	bench/upgrade_throughput.py

clean:
	rm -rf $(BUILD_DIR)
