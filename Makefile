# The README's commands. Each one installs what is missing first, so a fresh
# Debian 12 machine needs nothing else.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# Where `make run` starts the simulated program: its port file and the session
# logs land here.
RUN_DIR ?= run
# `make test-sanitized` builds apart from the plain build. Sanitized compiles
# and tests take several times the memory and time of plain ones, so it runs
# two at a time whatever the machine, and stops any test that passes the time
# limit (seconds; a whole run takes well under a minute) so that a hang ends as
# a failure instead of outlasting CI.
SANITIZED_DIR ?= build-sanitized
SANITIZED_JOBS ?= 2
SANITIZED_TIMEOUT ?= 300

.PHONY: all deps configure build test test-sanitized test-kernel bench bench-timing \
	bench-port-write bench-file-open run clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The test balance is printed after the tests, pass or fail, and never decides
# the outcome.
test: package
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300; \
		status=$$?; $(CURDIR)/scripts/test-balance; exit $$status

test-sanitized: deps
	cmake -S . -B $(SANITIZED_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DNUB_SANITIZE=ON
	cmake --build $(SANITIZED_DIR) -j $(SANITIZED_JOBS)
	cd $(SANITIZED_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure \
		-j $(SANITIZED_JOBS) --timeout $(SANITIZED_TIMEOUT)

# The real program on Linux's parport driver in an emulated PC; the kernel
# and the guest's files go to $(BUILD_DIR)/kernel-test/.
test-kernel: build
	scripts/install-deps kernel
	tests/kernel/run.sh $(BUILD_DIR)

# Each measurement is a target of its own, so that one can run alone and a
# failure names the measurement it ended; `make -k bench` still runs the rest.
# They run one after another even under -j, or they would measure each other.
bench: bench-timing bench-port-write bench-file-open

bench-timing: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/nubtactile-bench

bench-port-write: build
	$(BUILD_DIR)/bench/nubtactile-portio-cost

bench-file-open: build
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bench/nubtactile-config-open

.NOTPARALLEL:

# The Debian package build/nubtactile_<version>_<arch>.deb. `make test` builds
# it first, so that its test checks the package of this very build.
.PHONY: package
package: build
	cmake --build $(BUILD_DIR) --target package

run: build
	mkdir -p $(RUN_DIR)
	cd $(RUN_DIR) && $(CURDIR)/$(BUILD_DIR)/ui/nubtactile-sim

clean:
	rm -rf $(BUILD_DIR) $(SANITIZED_DIR)
