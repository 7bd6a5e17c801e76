# The newcomer's commands: `make demo` and `make test`. Both set everything up.
SHELL := /bin/bash
.DEFAULT_GOAL := test

VENV   := .venv
PY     := $(VENV)/bin/python
BUILD  := build
SANBUILD := build-sanitize
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)

.PHONY: setup build test test-core test-python demo bench sanitize clean

setup:
	@bash tools/bootstrap.sh

# Configure once; later builds are incremental (ninja in a persistent build dir).
$(BUILD)/build.ninja: | setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=$(abspath $(PY))

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j2
	PYTHONPATH=python $(PY) -m pytest -q tests

demo: build
	PYTHONPATH=python $(PY) examples/quickstart.py

bench: build
	@bash tools/bootstrap.sh tools/requirements-bench.txt
	PYTHONPATH=python $(PY) bench/run.py

# Core tests and Python tests under AddressSanitizer and UBSan (a separate build dir).
sanitize: setup
	cmake -S . -B $(SANBUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTALVIK_SANITIZE=address,undefined -DPython_EXECUTABLE=$(abspath $(PY)) \
	  -DTALVIK_MODULE_DIR=$(abspath $(SANBUILD))/pkg/tessarline
	cmake --build $(SANBUILD)
	cp python/tessarline/*.py python/tessarline/*.pyi python/tessarline/py.typed $(SANBUILD)/pkg/tessarline/
	ctest --test-dir $(SANBUILD) --output-on-failure --no-tests=error
	ASAN_OPTIONS=detect_leaks=0 LD_PRELOAD=$$(g++ -print-file-name=libasan.so) \
	  PYTHONPATH=$(SANBUILD)/pkg $(PY) -m pytest -q -x tests -p no:cacheprovider

clean:
	rm -rf $(BUILD) $(SANBUILD) python/tessarline/*.so
