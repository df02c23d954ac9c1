import os
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
sys.path.insert(0, os.path.join(ROOT, "python"))
SHARED = os.path.normpath(os.path.join(ROOT, "..", "shared"))


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: runs the program many times (CTest python_slow)")


def pytest_collection_modifyitems(config, items):
    # Slow tests run only when asked for with -m slow (the python_slow CTest entry).
    if "slow" in (config.option.markexpr or ""):
        return
    skip = pytest.mark.skip(reason="slow: run with -m slow")
    for item in items:
        if "slow" in item.keywords:
            item.add_marker(skip)
