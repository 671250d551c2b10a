# make test: install what is missing, check the formatting, configure, build with -Werror, run
#   every test under Wine (the _dist tests make the release image first); then the portable
#   components' tests again from build-ubsan, trapping on undefined behaviour.
# make check: the inner loop on a machine make test has set up: configure, build, and run the
#   components' unit tests only (CTest label "unit"; no bootstrap, no release image).
# make format: formats every C++ source with the repository's .clang-format.
# make demo: a real update of a sample installation under Wine, with its log.
# make bench: every benchmark program, gathered into build/bench/report.md.
# make fuzz: the fuzz tests 100 times longer, from a fresh seed (FUZZ_SEED=n to repeat one).
# make dist: the release update.exe, 7z.exe, the integration guide and SHA256SUMS in dist/;
#   SIGN_CERT=cert.pem SIGN_KEY=key.pem signs update.exe (Authenticode).
BUILD := build
UBSAN_BUILD := build-ubsan
.PHONY: all bootstrap configure build ubsan-build test check format format-check demo bench fuzz \
  dist clean

all: build

bootstrap:
	@bash tools/bootstrap.sh

configure: bootstrap
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

ubsan-build: bootstrap
	@cmake --preset ubsan >/dev/null
	@cmake --build --preset ubsan

# The tests check the release image in dist/ too. The CTest presets "default"
# and "ubsan" (CMakePresets.json) say how they run; three at a time: the suites
# mostly wait on Wine processes, so a third entry fills the two cores.
test: format-check build ubsan-build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display \
	  $(BUILD)/wineprefix2 $(BUILD)/wineprefix3 $(UBSAN_BUILD)/wineprefix \
	  $(UBSAN_BUILD)/wineprefix-display
	@ctest --preset default -j3; status=$$?; \
	  ctest --preset ubsan || status=1; \
	  for prefix in $(BUILD) $(UBSAN_BUILD); do \
	    WINEPREFIX=$(CURDIR)/$$prefix/wineprefix wineserver -k 2>/dev/null; done; \
	  for extra in wineprefix2 wineprefix3; do \
	    WINEPREFIX=$(CURDIR)/$(BUILD)/$$extra wineserver -k 2>/dev/null; done; exit $$status

check:
	@cmake --preset default >/dev/null
	@cmake --build --preset default
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@ctest --preset default -L unit -j2; status=$$?; \
	  WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix wineserver -k 2>/dev/null; exit $$status

format:
	@bash tools/format.sh

# Needs only clang-format, which the bootstrap installs.
format-check: bootstrap
	@bash tools/format.sh --check

demo: build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@bash tools/demo.sh $(BUILD)

bench: build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@bash tools/bench.sh $(BUILD)

FUZZ_SEED ?= $(shell date +%s)
fuzz: build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@echo "fuzzing from seed $(FUZZ_SEED)"
	@cd $(BUILD) && for t in base_command_line base_strings base_pickle base_metrics; do \
	  WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix WINEDEBUG=-all FUZZ_SCALE=100 FUZZ_SEED=$(FUZZ_SEED) \
	    wine bin/$${t}_unittests.exe --gtest_filter='*Fuzz*' --gtest_brief=1 || exit 1; done

dist: bootstrap
	@SIGN_CERT="$(SIGN_CERT)" SIGN_KEY="$(SIGN_KEY)" bash tools/dist.sh

clean:
	rm -rf $(BUILD) $(UBSAN_BUILD) build-release dist
