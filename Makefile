# make demo — plays the sample text files through the plug-in; make test — builds and runs every test
# (and a short fuzzing run); make stress — the long fault and fuzz runs; make bench — the benchmark.
# Both do all set-up on a fresh machine (packages, Wine prefix, display).
BUILD ?= build
JOBS ?= $(shell nproc)
# Tests run one at a time by default: many of them use what the whole desktop shares (the
# foreground window, the keyboard, the clipboard), and a window of one test program can take the
# foreground from another.
TEST_JOBS ?= 1
# Runs per fuzz target in make test and make fuzz.
FUZZ_RUNS ?= 20000

.PHONY: all deps configure build test test-under-load stress demo installer bench fuzz clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	bash scripts/with-wine.sh $(BUILD) ctest --test-dir $(BUILD) --output-on-failure -j $(TEST_JOBS)
	bash scripts/fuzz.sh $(BUILD)/fuzz $(FUZZ_RUNS)

# The tests while two busy processes keep both cores loaded: they must pass on a slow machine too.
test-under-load: build
	bash scripts/test-under-load.sh $(BUILD) $(TEST_JOBS)

# The long form of the fault, schedule and hostile-input tests (a thousand random schedules), and a
# million runs of every fuzz target.
STRESS_TESTS = RandomSchedules|HostileFiles|HostileInput|HostileSettings|GarbageSettingValues|UnreadableFiles|ErrorSites|FixedTexts|startup_without_rich_edit
stress: build
	IN_TXT_STRESS=long bash scripts/with-wine.sh $(BUILD) ctest --test-dir $(BUILD) --output-on-failure \
		-j $(TEST_JOBS) -R '$(STRESS_TESTS)'
	bash scripts/fuzz.sh $(BUILD)/fuzz 1000000

# The demo needs the plug-in, the engine and the player stand-in, not the tests.
demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target in_txt txtplay
	bash scripts/with-wine.sh $(BUILD) bash scripts/demo.sh $(BUILD)

# The setup program alone (make build makes it too): $(BUILD)/bin/in_txt-setup.exe, run with /S for a
# silent install and /D=<player folder> to choose the folder.
installer: configure
	cmake --build $(BUILD) --target installer -j $(JOBS)
	@echo "Built the setup program: $(BUILD)/bin/in_txt-setup.exe"

# Figures of the speech path under Wine, printed as a table and kept in $(BUILD)/bench/performance.md.
# ALSA's default device is a null device here, so the default-output figure has a device to open.
bench: build
	mkdir -p $(BUILD)/bench
	echo 'pcm.!default { type null }' >$(BUILD)/bench/asound.conf
	ALSA_CONFIG_PATH=$(CURDIR)/$(BUILD)/bench/asound.conf bash scripts/with-wine.sh $(BUILD) wine $(BUILD)/bin/txtbench.exe --markdown $(BUILD)/bench/performance.md \
		--machine "$$(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $$(nproc) cores, $$(uname -sr), $$(wine --version)"

# Native fuzzing of the pure pieces (clang, libFuzzer, ASan/UBSan): FUZZ_RUNS runs per target.
fuzz: deps
	bash scripts/fuzz.sh $(BUILD)/fuzz $(FUZZ_RUNS)

clean:
	rm -rf $(BUILD)
