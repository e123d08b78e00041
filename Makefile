# The two set-up commands: `make run` and `make test`. Both install what is missing first.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Debian 12 packages needed to build and test; `make run` adds what a desktop session needs.
BUILD_PACKAGES := cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev \
	libqt6svg6 qt6-pdf-dev qt6-translations-l10n libglib2.0-dev dbus-daemon fonts-ipafont-gothic \
	fonts-liberation2 trash-cli
RUN_PACKAGES := $(BUILD_PACKAGES) qt6-wayland
# What the drawing server's tests compare against: real DXF parts, ezdxf as the oracle (and its
# pictures, drawn by matplotlib), and the tools that read its PDF and SVG back.
TEST_PACKAGES := $(BUILD_PACKAGES) librecad-data python3-ezdxf python3-matplotlib poppler-utils \
	librsvg2-bin qpdf
# The server's benchmark runs LibreCAD's dxf2pdf as its peer.
BENCH_SERVER_PACKAGES := $(BUILD_PACKAGES) librecad librecad-data
PACKAGE_PACKAGES := $(BUILD_PACKAGES) dpkg-dev appstream lintian
# The format check: the clang-format of Debian 12 reads the repository's .clang-format.
FORMAT_PACKAGES := clang-format git
# The fuzz harnesses need clang's libFuzzer.
FUZZ_PACKAGES := $(BUILD_PACKAGES) clang-14 libclang-rt-14-dev
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SERVER_SECONDS ?= $(FUZZ_SECONDS)

TEST_BUS_CONFIG = $(BUILD_DIR)/tests/dbus-shared.conf
TEST_HOME = $(BUILD_DIR)/tests/home

.PHONY: run test bench bench-run bench-preview bench-server bench-writers sample-picture build \
	deps run-deps \
	test-deps package-deps package fuzz-deps fuzz format-check configure clean

define install_missing
	@missing=$$(for p in $(1); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing missing packages:" $$missing; \
		if [ "$$(id -u)" -eq 0 ]; then sudo=; else sudo=sudo; fi; \
		$$sudo apt-get update -q && \
		$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(BUILD_PACKAGES))

run-deps:
	$(call install_missing,$(RUN_PACKAGES))

test-deps:
	$(call install_missing,$(TEST_PACKAGES))

package-deps:
	$(call install_missing,$(PACKAGE_PACKAGES))

fuzz-deps:
	$(call install_missing,$(FUZZ_PACKAGES))

# Every C++ file git tracks must be formatted as .clang-format says; the check changes nothing.
format-check:
	$(call install_missing,$(FORMAT_PACKAGES))
	git ls-files -z '*.cpp' '*.h' | xargs -0 -r clang-format --dry-run --Werror

configure:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The stand-in drawing server is registered for the user first, unless a real Tarsk is: its
# desktop entry where Norvale looks, its service file where the bus that starts it looks. A bus
# daemon reads the services of its own XDG_DATA_HOME or, without one, of the account's home in
# the password database, never of $HOME: a desktop session's bus is asked for its process and
# its environment read; a bus of our own (a bare console or a container) is given ours.
run: run-deps build
	@data="$${XDG_DATA_HOME:-$$HOME/.local/share}"; dirs="$${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"; \
	if [ -n "$$DBUS_SESSION_BUS_ADDRESS" ] || [ -S "$${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; then \
		session=yes; \
		pid=$$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
			/org/freedesktop/DBus org.freedesktop.DBus.GetConnectionUnixProcessID \
			string:org.freedesktop.DBus 2>/dev/null | awk '{print $$2}'); \
		busenv=$$(tr '\0' '\n' </proc/$${pid:-0}/environ 2>/dev/null); \
		busdata=$$(printf '%s\n' "$$busenv" | sed -n 's/^XDG_DATA_HOME=//p'); \
		busdirs=$$(printf '%s\n' "$$busenv" | sed -n 's/^XDG_DATA_DIRS=//p'); \
		busdata="$${busdata:-$$(getent passwd "$$(id -u)" | cut -d: -f6)/.local/share}"; \
		dirs="$$dirs:$${busdirs:-/usr/local/share:/usr/share}"; \
	else \
		session=; busdata="$$data"; \
	fi; \
	service=dbus-1/services/Tarsk.Document.service; entry=applications/Tarsk.Document.desktop; \
	foreign=; \
	for f in "$$data/$$entry" "$$busdata/$$service" $$(for d in $$(echo "$$dirs" | tr : ' '); do \
			echo "$$d/$$entry" "$$d/$$service"; done); do \
		if [ -e "$$f" ] && ! grep -qs 'X-Norvale-Standin=true' "$$f"; then foreign="$$f"; fi; \
	done; \
	if [ -n "$$foreign" ]; then \
		echo "Tarsk is registered ($$foreign): the stand-in is not."; \
	else \
		mkdir -p "$$data/applications" "$$busdata/dbus-1/services" && \
		cp $(BUILD_DIR)/server/Tarsk.Document.desktop "$$data/$$entry" && \
		cp $(BUILD_DIR)/server/Tarsk.Document.service "$$busdata/$$service" && \
		echo "The stand-in is registered: $$busdata/$$service"; \
	fi; \
	if [ -n "$$session" ]; then \
		dbus-send --session --type=method_call --dest=org.freedesktop.DBus /org/freedesktop/DBus \
			org.freedesktop.DBus.ReloadConfig 2>/dev/null || true; \
		exec $(BUILD_DIR)/norvale; \
	else \
		exec env XDG_DATA_HOME="$$data" dbus-run-session -- $(BUILD_DIR)/norvale; \
	fi

# Tests run offscreen on a private session bus, never the user's.
test: test-deps build
	rm -rf $(TEST_HOME) && mkdir -p -m 700 $(TEST_HOME)/runtime
	cd $(BUILD_DIR) && env QT_QPA_PLATFORM=offscreen HOME=$(abspath $(TEST_HOME)) \
		XDG_CONFIG_HOME=$(abspath $(TEST_HOME))/config XDG_DATA_HOME=$(abspath $(TEST_HOME))/data \
		XDG_CACHE_HOME=$(abspath $(TEST_HOME))/cache XDG_RUNTIME_DIR=$(abspath $(TEST_HOME))/runtime \
		dbus-run-session --config-file=$(abspath $(TEST_BUS_CONFIG)) -- \
		ctest --output-on-failure -j $(JOBS)

# The listing benchmark, offscreen: figures beside a floor measured in the same run.
bench: deps build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/norvale-bench

# The conversion benchmark: 2,000 drawings through the stand-in on a private bus.
bench-run: deps build
	QT_QPA_PLATFORM=offscreen timeout 900 $(BUILD_DIR)/bench/norvale-bench-run

# The preview window over librecad-data's parts: selection to picture, and the main window's
# longest pause meanwhile.
bench-preview: build
	$(call install_missing,$(BUILD_PACKAGES) librecad-data)
	QT_QPA_PLATFORM=offscreen timeout 900 $(BUILD_DIR)/bench/norvale-bench-preview

# The Debian package, built apart with the installed paths compiled in, then checked by lintian.
PACKAGE_DIR ?= build-package
package: package-deps
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DNORVALE_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	rm -f $(PACKAGE_DIR)/norvale_*.deb
	cd $(PACKAGE_DIR) && cpack -G DEB
	lintian --fail-on error $(PACKAGE_DIR)/norvale_*.deb

# The stand-in's graphical writers on one drawing of about 200 shapes, beside a file-write floor.
bench-writers: deps build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/standin-writers-bench

# The README's pictures: samples/floor-plan.dxf and its A3 sheet converted to PDF by the
# stand-in with the default plot settings, rasterised.
sample-picture: test-deps build
	QT_QPA_PLATFORM=offscreen TARSK_STANDIN_SETTINGS=/dev/null $(BUILD_DIR)/bench/standin-convert \
		samples/floor-plan.dxf $(BUILD_DIR)/floor-plan.pdf "山田 太郎" "設計部"
	pdftoppm -r 32 -png -singlefile $(BUILD_DIR)/floor-plan.pdf res/sample-floor-plan
	QT_QPA_PLATFORM=offscreen TARSK_STANDIN_SETTINGS=/dev/null $(BUILD_DIR)/bench/standin-convert \
		samples/floor-plan-a3.dxf $(BUILD_DIR)/floor-plan-a3.pdf "山田 太郎" "設計部"
	pdftoppm -r 40 -png -singlefile $(BUILD_DIR)/floor-plan-a3.pdf res/sample-floor-plan-a3

clean:
	rm -rf $(BUILD_DIR) $(PACKAGE_DIR) $(FUZZ_DIR)

# The drawing server converting librecad-data's parts over D-Bus, beside LibreCAD's dxf2pdf;
# then its SXF and JWW readers and writer on the samples scaled to 1,000 shapes; then PDF pages
# of the same parts laid out on a sheet beside their model space.
bench-server: build
	$(call install_missing,$(BENCH_SERVER_PACKAGES))
	QT_QPA_PLATFORM=offscreen timeout 1800 $(BUILD_DIR)/bench/norvale-bench-server
	QT_QPA_PLATFORM=offscreen timeout 600 $(BUILD_DIR)/bench/norvale-bench-sxf
	QT_QPA_PLATFORM=offscreen timeout 600 $(BUILD_DIR)/bench/norvale-bench-sheets

# Every harness in fuzz/ for FUZZ_SECONDS each, built with clang in a folder of its own.
fuzz: fuzz-deps
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
		-DNORVALE_FUZZ=ON -DNORVALE_BUILD_TESTS=OFF $(FUZZ_CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target norvale_fuzzers
	FUZZ_SERVER_SECONDS=$(FUZZ_SERVER_SECONDS) fuzz/run $(FUZZ_DIR)/fuzz $(FUZZ_SECONDS)
