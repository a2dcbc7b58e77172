# make run    installs what is missing, builds, starts Korvex beside simulated boards
# make test   installs what is missing, builds and runs every test
# make bench  runs the benchmarks
# make package builds the Debian package (build/korvex_VERSION_ARCH.deb)
# make windows-check  builds the general library for Windows and runs its tests under Wine
# make fuzz   builds the fuzz targets with clang and runs each for FUZZ_SECONDS (default 60)
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all deps configure build run package test bench soak sanitize fuzz clean windows-check

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# The window, the command line beside it and the simulated board: the tests are not needed to
# start them.
run: configure
	@cmake --build $(BUILD) --target korvex korvex-cli korvex-boardsim
	@scripts/run.sh $(BUILD)

# Only what the package carries, then the package itself.
package: configure
	@cmake --build $(BUILD) --target korvex korvex-cli korvex-boardsim korvex-man
	@cd $(BUILD) && cpack -G DEB

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2

bench: build
	@bench/run.sh $(BUILD)

# The fault soak against the simulated board; SEED=N and OPS=N change its seed and length.
soak: configure
	@cmake --build $(BUILD) --target korvex-soak
	@$(BUILD)/bench/korvex-soak $(if $(SEED),--seed $(SEED)) $(if $(OPS),--ops $(OPS))

sanitize:
	@$(MAKE) test BUILD=build-sanitize BUILD_TYPE=Debug CMAKE_FLAGS=-DKORVEX_SANITIZE=ON

windows-check:
	@windows/check.sh

# Fuzz targets: their own clang build; new corpus entries and crashes go to $(FUZZ_BUILD)/runs.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/install-deps.sh fuzz
	@cmake -S fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) --target fuzz_targets --parallel 2
	@fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-sanitize $(FUZZ_BUILD) build-windows
