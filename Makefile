# The front door. `make demo` runs the plug-in in the simulator; `make test`
# builds everything (Linux debug, ASan+UBSan, the Windows cross-build, and the
# tests of threads and fibres under ThreadSanitizer) and runs every test;
# `make dist` writes the players', the testers' and the modders' packages and
# their SHA256SUMS to build/dist/; `make media` draws the pictures of a death
# in docs/media/. Each first installs whatever Debian packages are missing.

SHELL := bash
.SHELLFLAGS := -euo pipefail -c
.DEFAULT_GOAL := demo
MAKEFLAGS += --no-print-directory

JOBS ?= 2
# Debian's python3, which `make deps` installs with the modules the scripts
# use, rather than a version manager's slower shim earlier in PATH (the same
# choice as the CMake trees'). Looked up when used: after `make deps`.
PYTHON = $(firstword $(wildcard /usr/bin/python3) python3)
# `cmake --preset NAME`, which first clears a tree that another generator wrote.
CONFIGURE = $(PYTHON) scripts/configure-preset.py
# Options of the demo run of rebound-sim: the HTML report of the run, by
# default. e.g. DEMO_ARGS="--report build/report.html --trace build/demo.jsonl".
DEMO_ARGS ?= --report build/report.html
# Extra options for the benchmark binary, e.g. BENCH_ARGS="--benchmark_filter=Idle".
BENCH_ARGS ?=

# The sanitizer options of the ASan+UBSan tests (stop at the first error,
# report leaks at exit, print where undefined behaviour happened) are set by
# the asan test preset, so that `ctest --preset asan` alone runs the same.

CTEST_LOGS := build/ctest-logs
# Each preset's build and test seconds, "PRESET build|test SECONDS" a line,
# for the closing summary of `make test`.
TIMES := $(CTEST_LOGS)/times.txt
TEST_PRESETS := debug windows asan tsan
# How many of `make test`'s phases (a preset's build or its tests) run at once.
TEST_PHASES ?= 2
# What `make count` counts, built in the release tree.
RELEASE_TARGETS := rebound-sim rebound_plugin

.PHONY: demo test bench count soak recorder-load fuzz dist media format check-format deps clean \
        build-debug build-asan build-windows build-tsan build-release \
        test-debug test-asan test-windows test-tsan

deps:
	bash scripts/install-deps.sh

demo: deps
	$(CONFIGURE) debug
	cmake --build --preset debug -j$(JOBS) --target rebound-sim
	build/debug/rebound-sim $(DEMO_ARGS)

# The presets' builds and test runs are phases, run TEST_PHASES at a time (each
# at -j$(JOBS)): a test run leaves a core idle for much of its time (Wine, the
# tests' own processes starting, the last long cases), and the next build
# takes it. Each phase's output is printed as one block when it ends, its log
# kept in build/ctest-logs/. A phase that fails does not stop the others: the
# closing summary names every failed case and every preset without results.
# The format check is one more phase, done in the first seconds beside the
# first build rather than after the last tests.
test: deps
	@rm -rf $(CTEST_LOGS) $(foreach p,$(TEST_PRESETS),build/$(p)/ctest-junit.xml)
	@echo "make test: building and testing the presets $(TEST_PRESETS) ($(TEST_PHASES) phases at a time; each phase's output appears when it ends)"
	@status=0; \
	  $(MAKE) -j$(TEST_PHASES) -k --output-sync=target TEST_PIPELINE=1 check-format $(foreach p,$(TEST_PRESETS),test-$(p)) || status=1; \
	  $(PYTHON) scripts/ctest-summary.py --times $(TIMES) $(foreach p,$(TEST_PRESETS),$(p)=build/$(p)) || status=1; \
	  exit $$status

bench: deps
	$(CONFIGURE) release
	cmake --build --preset release -j$(JOBS) --target rebound_bench rebound_alloc_table
	build/release/rebound_alloc_table
	build/release/rebound_bench $(BENCH_ARGS)

# The packages of a release, in build/dist/:
#  - the player's, Rebound-<version>.zip: the stripped Rebound.asi with
#    README.txt, LICENSE.txt and CHANGELOG.md;
#  - the testers', Rebound-recorder-<version>.zip: the stripped
#    Rebound-recorder.asi with its README.txt and LICENSE.txt;
#  - the modders', Rebound-sim-<version>-windows.zip: rebound-sim.exe, both
#    plug-ins, the simulator's stand-in ScriptHookV.dll in its own folder
#    (stand-in-host/, never to be copied into a game), the shipped scenarios
#    and their schema, the documentation (docs/*.md, docs/*.json and
#    docs/media/*, as they are when packing) and its README.txt;
#  - SHA256SUMS, every zip's checksum as sha256sum writes it, which goes on
#    the release page beside the zips (`sha256sum -c SHA256SUMS` checks them).
# The same bytes on every build of a commit (entries dated SOURCE_DATE_EPOCH,
# by default the commit's time). The windows-dist preset (the windows one
# without the test tree's shortcuts: rebound-sim.exe link-time optimised, as
# released) packs them into build/windows-dist/dist/; they are copied from
# there, checked against SHA256SUMS and the checksums printed.
dist: deps
	$(CONFIGURE) windows-dist
	cmake --build --preset windows-dist -j$(JOBS) --target dist
	@rm -rf build/dist && mkdir -p build/dist
	@cp build/windows-dist/dist/Rebound-*.zip build/windows-dist/dist/SHA256SUMS build/dist/
	@cd build/dist && sha256sum --quiet -c SHA256SUMS
	@cat build/dist/SHA256SUMS

# The pictures of a death in docs/media/ (an animated WebP and three PNG
# stills), drawn from the debug simulator's frames of the default scenario
# with a fixed seed: the same code gives the same bytes, and the media test
# fails when the committed pictures are no longer what the code draws.
media: deps
	$(CONFIGURE) debug
	cmake --build --preset debug -j$(JOBS) --target rebound-sim
	$(PYTHON) scripts/make-media.py --sim build/debug/rebound-sim --out docs/media

# Instructions per idle frame, per phase of a death cycle and per native call,
# and the plug-in's share, counted by callgrind (stable where times are not),
# with the goals beside them. COUNT_ARGS="--check" fails when one is over.
COUNT_ARGS ?=
count: deps
	$(CONFIGURE) release
	cmake --build --preset release -j$(JOBS) --target $(RELEASE_TARGETS)
	$(PYTHON) scripts/count.py --sim build/release/rebound-sim $(COUNT_ARGS)

# 10,000 deaths in one run of the release build: the time, the peak resident
# size and the plug-in's live heap after each respawn (a progress line, a
# sample and a summary here; every respawn's figures in build/release/soak.tsv).
# Fails unless the live heap after the 10th and the last respawn is the same.
SOAK_DEATHS ?= 10000
soak: deps
	$(CONFIGURE) release
	cmake --build --preset release -j$(JOBS) --target rebound-soak
	build/release/rebound-soak --deaths $(SOAK_DEATHS) --figures build/release/soak.tsv

# The recording build under load (figures, not a test): the soak's 10,000
# deaths with librebound-recorder.so as a tester gets it, uncapped, with a
# small cap and with a small ring, beside the player's module (frames per
# second, peak resident size after the 500th and the last respawn, the file's
# size, last line and dropped frames); and 1,000 deaths under Wine with the
# genuine Rebound.asi and Rebound-recorder.asi (the Wine process's peak).
# e.g. RECORDER_LOAD_ARGS="--deaths 1000 --no-wine".
RECORDER_LOAD_ARGS ?=
recorder-load: deps
	$(CONFIGURE) release
	cmake --build --preset release -j$(JOBS) --target rebound-soak rebound_plugin rebound_plugin_recorder
	$(CONFIGURE) windows-dist
	cmake --build --preset windows-dist -j$(JOBS) --target rebound-sim rebound_plugin rebound_plugin_recorder
	$(PYTHON) scripts/recorder-load.py $(RECORDER_LOAD_ARGS)

# The fuzz targets under libFuzzer with ASan and UBSan (clang 14), one after
# the other, each for FUZZ_SECONDS (default 10 minutes): executions per
# second, coverage (and the world's frames run) at the end; a broken invariant
# fails, its input in build/fuzz/crashes/. FUZZ_TARGETS=world_fuzz for one.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= world_fuzz scenario_fuzz recording_fuzz recording_commands_fuzz
fuzz: deps
	$(CONFIGURE) fuzz
	cmake --build --preset fuzz -j$(JOBS)
	for target in $(FUZZ_TARGETS); do bash scripts/fuzz.sh $(FUZZ_SECONDS) $$target; done

build-debug build-asan build-windows build-tsan build-release: build-%:
	@mkdir -p $(CTEST_LOGS)
	@start=$$(date +%s); \
	  (set -x; $(CONFIGURE) $* && cmake --build --preset $* -j$(JOBS) $(BUILD_TARGETS)); \
	  echo "$* build $$(( $$(date +%s) - start ))" >> $(TIMES)

# Each preset's tests. ctest's JUnit file and the suites' own results in the
# build tree feed the closing summary of `make test`; the log is kept beside.
test-debug test-asan test-windows test-tsan: test-%: build-%
	@start=$$(date +%s); \
	  (set -x; ctest --preset $* -j$(JOBS) --output-junit $(CURDIR)/build/$*/ctest-junit.xml) 2>&1 \
	    | tee $(CTEST_LOGS)/$*.log; \
	  echo "$* test $$(( $$(date +%s) - start ))" >> $(TIMES)

# The Windows scenario runs are compared with the Linux simulator's runs.
test-windows: build-debug
# The counted goals (debug) and the compiler traces (tsan) run the g++ release
# tree's rebound-sim and plug-in; count_goals_release_build, which builds them
# when ctest runs alone, then finds nothing to do.
test-debug test-tsan: build-release
build-release: BUILD_TARGETS = --target $(RELEASE_TARGETS)
# Within `make test` the builds run one after another, in the order their
# tests can start, and each preset's tests beside the next build: two builds
# at once (four compilers on two cores) took longer than one after the other.
ifdef TEST_PIPELINE
pipeline_builds := $(if $(filter debug windows,$(TEST_PRESETS)),build-debug) \
                   $(if $(filter debug tsan,$(TEST_PRESETS)),build-release) \
                   $(foreach p,$(filter-out debug,$(TEST_PRESETS)),build-$(p))
# Each build after the one before it in that list.
chain_builds = $(if $(word 2,$1),$(eval $(word 2,$1): | $(word 1,$1))$(call chain_builds,$(wordlist 2,$(words $1),$1)))
$(call chain_builds,$(strip $(pipeline_builds)))
endif

format:
	bash scripts/format.sh

check-format:
	bash scripts/format.sh --check

clean:
	rm -rf build
