# Two entry points: `make run` boots the driver in QEMU/OVMF and shows the firmware console;
# `make test` runs the whole test suite. Both install what they need first (apt, as root).

BUILD ?= build
CMAKE_FLAGS ?= -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang

.PHONY: all deps configure build run run-demo test clean

all: build

deps:
	@scripts/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# The demonstration fixture publishes a root bridge with a few graphics and accelerator
# functions; the driver reports them on the firmware console, then the machine powers off.
run: build
	@python3 scripts/run-firmware.py --show --image $(BUILD)/DemoBridges.efi --image $(BUILD)/RbarSurvey.efi

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2

clean:
	@rm -rf $(BUILD)
