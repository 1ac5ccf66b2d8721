# Set-up, demo and tests. `make demo` and `make test` work on a fresh clone: they create the
# virtual environment (CPython 3.12 or newer, found through pyenv when python3 is older), install
# the build and test tools into it, build the extension and run.
#
# `make test` runs these in order and stops at the first failure:
#   test-cpp     the C++ unit tests (build/cpp), built with the binding and the benchmarks, warnings
#                as errors (as in every test build)
#   test-asan    the C++ unit tests again under AddressSanitizer, LeakSanitizer and
#                UndefinedBehaviorSanitizer (build/cpp-asan), among them 100 000 document lifecycles
#                checked for leaks; then the fuzz seeds, the fuzzer's findings and the corpus
#                through the fuzzer's invariants, in the same build
#   test-fuzz    the fuzzers for FUZZ_SECONDS seconds (needs clang; skipped without it)
#   test-python  pytest on the newest CPython 3.12+ (.venv) and again on CPython 3.12 (.venv312)
# Paths and times can be overridden, e.g. `make test VENV=.venv-a VENV312=.venv-b FUZZ_SECONDS=60`.
VENV ?= .venv
VENV312 ?= .venv312
PY := $(VENV)/bin/python
CMAKE := $(VENV)/bin/cmake
JOBS ?= 2
CPP_BUILD ?= build/cpp
ASAN_BUILD ?= build/cpp-asan
FUZZ_SECONDS ?= 90

.PHONY: all venv install demo tools test test-cpp test-asan test-fuzz test-python test-python-one bench clean

all: install

$(VENV)/.ready: pyproject.toml
	@python="$$(PYTHON='$(PYTHON)' scripts/find_python.sh $(PYTHON_VERSION))" && echo "using $$python" && "$$python" -m venv $(VENV)
	$(PY) -m pip install --quiet --disable-pip-version-check "scikit-build-core>=0.9" cmake ninja pytest hypothesis mypy
	touch $@

venv: $(VENV)/.ready

# PIP_BUILD_DIR moves the extension's build out of build/{wheel_tag} (for a second checkout's tests).
install: venv
	$(PY) -m pip install --quiet --disable-pip-version-check --no-build-isolation $(if $(PIP_BUILD_DIR),--config-settings=build-dir=$(PIP_BUILD_DIR)/{wheel_tag}) .

demo: install
	$(PY) scripts/demo.py examples/sample.txt

# The test builds treat warnings as errors; this one also compiles the binding and the benchmarks.
test-cpp: venv
	$(CMAKE) -S . -B $(CPP_BUILD) -DPython_EXECUTABLE=$(abspath $(PY)) -DYOMIKA_BUILD_PYTHON=ON -DYOMIKA_BUILD_TESTS=ON \
	  -DYOMIKA_BUILD_BENCH=ON -DYOMIKA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(CMAKE) --build $(CPP_BUILD) -j $(JOBS)
	$(CPP_BUILD)/yomika_tests

test-asan: venv
	$(CMAKE) -S . -B $(ASAN_BUILD) -DYOMIKA_BUILD_PYTHON=OFF -DYOMIKA_BUILD_TESTS=ON -DYOMIKA_SANITIZE=ON -DYOMIKA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(CMAKE) --build $(ASAN_BUILD) -j $(JOBS) --target yomika_tests fuzz_replay
	$(ASAN_BUILD)/yomika_tests
	bash scripts/replay.sh $(ASAN_BUILD)/fuzz_replay

# clang for the fuzzers, Chromium and fonts for the browser test: installed from the system's
# packages where that is possible; what needs them skips itself where it is not.
tools:
	@bash scripts/install_system_tools.sh

test-fuzz: venv tools
	CMAKE=$(abspath $(CMAKE)) JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)

# pytest on the interpreter of $(VENV).
test-python-one: install
	$(PY) -m pytest -q

# The newest CPython 3.12+ first, then CPython 3.12 in its own environment; on a machine with only
# one of them the tests run on that one, and the output says so.
test-python: tools
	@$(MAKE) --no-print-directory test-python-one
	@newest="$$($(PY) -c 'import sys; print("%d.%d" % sys.version_info[:2])')"; \
	if [ "$$newest" = 3.12 ]; then \
	  echo "note: CPython 3.12 is the only interpreter found; the Python tests ran on it alone"; \
	elif python312="$$(scripts/find_python.sh 3.12 2>/dev/null)"; then \
	  $(MAKE) --no-print-directory test-python-one VENV=$(VENV312) PYTHON="$$python312" PYTHON_VERSION=3.12; \
	else \
	  echo "note: no CPython 3.12 found; the Python tests ran on CPython $$newest only"; \
	fi

test: test-cpp test-asan test-fuzz test-python

# The benchmark suite (bench/suite.py): builds the module and the C++ benchmarks in their own
# directory, runs every figure, prints the tables and writes bench/RESULTS.md. BASELINE=<build dir
# of an earlier yomika_py> (and BASELINE_NAME=<what it is>) adds that build's figures, measured in
# the same rounds.
BENCH_BUILD ?= build/bench
bench: venv
	$(CMAKE) -S . -B $(BENCH_BUILD) -DPython_EXECUTABLE=$(abspath $(PY)) -DYOMIKA_BUILD_PYTHON=ON -DYOMIKA_BUILD_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(CMAKE) --build $(BENCH_BUILD) -j $(JOBS)
	$(PY) bench/suite.py --build $(BENCH_BUILD) $(if $(BASELINE),--baseline $(BASELINE) --baseline-name "$(or $(BASELINE_NAME),$(BASELINE))")

clean:
	rm -rf build $(VENV) $(VENV312)
