# Quick start on Debian 12:  make run   |   make test
#
# make run opens the desktop program (or, without a display, traces the
# sample drawing with vemo-trace); make test also runs the window tests on
# a virtual X server (xvfb-run).
#
# Both first install the Debian packages that are missing (as root; any
# other user is shown the apt-get command to run), then configure and
# build in build/.

BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_ASAN_BUILD ?= build-fuzz-asan
BENCH_BUILD ?= build-bench
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 600

PACKAGES = g++ make cmake pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
           libpng-dev libtiff-dev libgif-dev python3 python3-ezdxf locales-all fonts-ipafont-gothic \
           qt6-l10n-tools qt6-tools-dev qt6-translations-l10n libqt6svg6
# Tools the tests run: an SVG renderer, GNU parallel for the README's recipe,
# a virtual X server for the window test.
TEST_PACKAGES  = librsvg2-bin parallel xvfb xauth
FUZZ_PACKAGES  = clang libclang-rt-14-dev
BENCH_PACKAGES = potrace time
# The Debian package: dpkg-shlibdeps and file for its dependencies, and the
# checkers CI runs on it.
PACKAGE_PACKAGES = dpkg-dev file lintian desktop-file-utils appstream

.PHONY: all deps test-deps build run test test-asan fuzz fuzz-asan fuzz-deps bench clean package package-deps

all: build

define install_missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages. Run as root:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@./tools/first-run.sh $(BUILD)

# Tests build with -Werror: here the compiler is the one we know.
test: deps test-deps $(BUILD)/CMakeCache.txt
	cmake -S . -B $(BUILD) -DVEMO_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) package
	./packaging/check-package.sh $(BUILD)/vemo_*.deb
	$(MAKE) test-asan

test-asan: test-deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVEMO_SANITIZE=ON -DVEMO_WERROR=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

# Long fuzz runs for development: every target (or those in FUZZ_TARGETS)
# for FUZZ_SECONDS each. The runs use UBSan alone, several times faster than
# with ASan; fuzz-asan replays what they kept under ASan and UBSan.
fuzz: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVEMO_FUZZ=ON -DVEMO_SANITIZE=OFF -DVEMO_SANITIZE_UNDEFINED=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	./tools/fuzz-all.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-asan: fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVEMO_FUZZ=ON -DVEMO_SANITIZE=ON
	cmake --build $(FUZZ_ASAN_BUILD) -j $(JOBS)
	./tools/fuzz-all.sh --replay $(FUZZ_ASAN_BUILD) $(FUZZ_BUILD)

bench: deps
	$(call install_missing,$(BENCH_PACKAGES))
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target trace_bench make_drawing quality vemo-trace viewer_bench
	./$(BENCH_BUILD)/bench/trace_bench
	./$(BENCH_BUILD)/bench/viewer_bench
	./bench/compare.sh $(BENCH_BUILD)
	./bench/compare.sh $(BENCH_BUILD) --pages
	./$(BENCH_BUILD)/bench/quality
	./bench/join_cost.sh $(BENCH_BUILD)
	./bench/image_memory.sh $(BENCH_BUILD)
	./bench/join_pathological.sh $(BENCH_BUILD)
	./bench/fit_cost.sh $(BENCH_BUILD)
	./bench/batch.sh $(BENCH_BUILD)

package-deps: deps
	$(call install_missing,$(PACKAGE_PACKAGES))

# The .deb in $(BUILD)/: install it with  sudo apt install ./$(BUILD)/vemo_<version>_<arch>.deb
package: package-deps build
	rm -f $(BUILD)/vemo_*.deb
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(FUZZ_ASAN_BUILD) $(BENCH_BUILD)
