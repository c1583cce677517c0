# Entry points: `make run` boots the driver in QEMU/OVMF and shows the firmware console
# (`make run ARCH=aarch64`: the AArch64 image in QEMU/AAVMF);
# `make test` runs the whole test suite, then the host suite again under ASan and UBSan with
# the fuzz targets; `make bench` measures the format engine, the scan and the image;
# `make release` makes the release folder, `make release-check` checks it is reproducible. Each
# installs what it needs first (apt, as root).

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
BENCH_BUILD ?= build-bench
CMAKE_FLAGS ?= -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang

PACKAGE_BUILD ?= build-package
DIST ?= dist

.PHONY: all deps configure build usb run run-boot run-demo test test-plain test-sanitize bench package \
        release release-check sign clean

all: build

deps:
	@scripts/ensure-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# The bootable USB stick: build/rbar-survey-usb.img (GPT, FAT32 EFI system partition) and the
# same files as a folder, build/rbar-survey-usb/, for copying onto any FAT32 stick.
usb: configure
	@cmake --build $(BUILD) --target rbar-survey-usb

# The demonstration fixture publishes a root bridge with a few graphics and accelerator
# functions; the driver reports them on the firmware console, then the machine powers off.
# ARCH=x86-64 (q35, OVMF) or ARCH=aarch64 (virt, AAVMF).
ARCH ?= x86-64
EFI_SUFFIX_x86-64 :=
EFI_SUFFIX_aarch64 := AA64
run: build
	@test -n "$(filter $(ARCH),x86-64 aarch64)" || { echo "ARCH must be x86-64 or aarch64" >&2; exit 2; }
	@python3 scripts/run-firmware.py --show --arch $(ARCH) \
	  --image $(BUILD)/DemoBridges$(EFI_SUFFIX_$(ARCH)).efi --image $(BUILD)/RbarSurvey$(EFI_SUFFIX_$(ARCH)).efi

# The boot image as the first boot option behind the demonstration fixture (a driver option):
# its report and countdown, then the next boot option, the shell, which powers the machine off.
# ARCH as for run.
run-boot: build
	@test -n "$(filter $(ARCH),x86-64 aarch64)" || { echo "ARCH must be x86-64 or aarch64" >&2; exit 2; }
	@python3 scripts/run-firmware.py --show --arch $(ARCH) \
	  --driver-option $(BUILD)/DemoBridges$(EFI_SUFFIX_$(ARCH)).efi \
	  --boot-option $(BUILD)/RbarSurveyBoot$(EFI_SUFFIX_$(ARCH)).efi

test: test-plain test-sanitize

test-plain: build
	@ctest --test-dir $(BUILD) --output-on-failure -j2

# The host suite and the fuzz targets (corpus replay, then a bounded run each) under ASan and
# UBSan. Firmware boots and image checks concern the EFI image, which is never instrumented.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) $(CMAKE_FLAGS) -DRBAR_FUZZ=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD)
	@ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j2 -LE 'firmware|image'

bench:
	@scripts/ensure-deps.sh bench
	@cmake -S . -B $(BENCH_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DRBAR_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD)
	@scripts/run-benchmarks.py --build $(BENCH_BUILD) --output docs/performance.md

# The Debian package of the tool, the driver image and the manual page:
# $(PACKAGE_BUILD)/rbar-survey_*.deb, from a build of what the package holds (no test tree).
package: deps
	@cmake -S . -B $(PACKAGE_BUILD) $(CMAKE_FLAGS) -DBUILD_TESTING=OFF >/dev/null
	@cmake --build $(PACKAGE_BUILD) --target package

# The release of the checked-out commit: $(DIST)/rbar-survey-VERSION/ with the source archive,
# the stick image (xz) and its files (zip), the packages for amd64 and arm64, and SHA256SUMS.
release: deps
	@scripts/make-release.sh $(DIST)

# Two releases from clean clones in different folders at different times, compared byte for
# byte (about twice the time of make release; not part of make test).
release-check: deps
	@scripts/release-check.sh

# Every image signed with sbsign into $(BUILD)/signed/ and checked with sbverify:
# make sign KEY=FILE CERT=FILE (PEM key without passphrase, PEM certificate).
sign: build
	@scripts/sign-images.sh $(BUILD) "$(KEY)" "$(CERT)"

clean:
	@rm -rf $(BUILD) $(SANITIZE_BUILD) $(BENCH_BUILD) $(PACKAGE_BUILD) build-release
