# make test: install what is missing, configure, build with -Werror, run every test under Wine.
# make demo: a real update of a sample installation under Wine, with its log.
# make bench: every benchmark program, gathered into build/bench/report.md.
BUILD := build
.PHONY: all bootstrap configure build test demo bench clean

all: build

bootstrap:
	@bash tools/bootstrap.sh

configure: bootstrap
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

test: build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@cd $(BUILD) && ctest --output-on-failure --no-tests=error -j2; status=$$?; \
	  WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix wineserver -k 2>/dev/null; exit $$status

demo: build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@bash tools/demo.sh $(BUILD)

bench: build
	@bash tools/wine-prefix.sh $(BUILD)/wineprefix $(BUILD)/wineprefix-display
	@bash tools/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)
