# The commands a user needs. `make report` prints this machine's report;
# `make check` installs what the tests need, builds every target and runs every test.
BUILD := build
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all native report check deps build-deps windows install fuzz clean

all: native

native:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

report: build-deps native
	@./$(BUILD)/lystrel

build-deps:
	@bash scripts/install-deps.sh build

deps:
	bash scripts/install-deps.sh

windows:
	bash scripts/build-windows.sh

# The sanitizer suite and the fuzz smoke run first, so that the plain suite's
# summary is the last thing printed.
check: deps native windows
	bash scripts/check-extra.sh
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

install: native
	cmake --install $(BUILD)

fuzz:
	bash scripts/fuzz.sh long

clean:
	rm -rf $(BUILD) build-*
