# Set-up, demo and tests. `make demo` and `make test` work on a fresh clone: they create the
# virtual environment (CPython 3.12 or newer, found through pyenv when python3 is older), install
# the build and test tools into it, build the extension and run.
VENV := .venv
PY := $(VENV)/bin/python
CMAKE := $(VENV)/bin/cmake
JOBS ?= 2
CPP_BUILD := build/cpp

.PHONY: all venv install demo test test-cpp test-python clean

all: install

$(VENV)/.ready: pyproject.toml
	@python="$$(scripts/find_python.sh)" && echo "using $$python" && "$$python" -m venv $(VENV)
	$(PY) -m pip install --quiet --disable-pip-version-check "scikit-build-core>=0.9" cmake ninja pytest hypothesis
	touch $@

venv: $(VENV)/.ready

install: venv
	$(PY) -m pip install --quiet --disable-pip-version-check --no-build-isolation .

demo: install
	$(PY) scripts/demo.py examples/sample.txt

test-cpp: venv
	$(CMAKE) -S . -B $(CPP_BUILD) -DYOMIKA_BUILD_PYTHON=OFF -DYOMIKA_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(CMAKE) --build $(CPP_BUILD) -j $(JOBS)
	$(CPP_BUILD)/yomika_tests

# The browser test's Chromium comes from the system's packages where that is possible; the test
# skips itself where it is not.
test-python: install
	@if [ -f scripts/install_browser.sh ]; then bash scripts/install_browser.sh; fi
	$(PY) -m pytest -q

test: test-cpp test-python

clean:
	rm -rf build $(VENV)
