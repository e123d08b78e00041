# The two set-up commands: `make run` and `make test`. Both install what is missing first.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Debian 12 packages needed to build and test; `make run` adds what a desktop session needs.
BUILD_PACKAGES := cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev \
	libqt6svg6 qt6-translations-l10n libglib2.0-dev dbus-daemon fonts-ipafont-gothic \
	fonts-liberation2 trash-cli
RUN_PACKAGES := $(BUILD_PACKAGES) qt6-wayland

TEST_BUS_CONFIG = $(BUILD_DIR)/tests/dbus-session.conf

.PHONY: run test build deps run-deps configure clean

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

configure:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Without a session bus (a bare console or a container) Norvale gets one of its own.
run: run-deps build
	@if [ -n "$$DBUS_SESSION_BUS_ADDRESS" ] || [ -S "$${XDG_RUNTIME_DIR:-/nonexistent}/bus" ]; then \
		exec $(BUILD_DIR)/norvale; \
	else \
		exec dbus-run-session -- $(BUILD_DIR)/norvale; \
	fi

# Tests run offscreen on a private session bus, never the user's.
test: deps build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen \
		dbus-run-session --config-file=$(abspath $(TEST_BUS_CONFIG)) -- \
		ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
