"""The numbers the documentation quotes from the examples' runs are those a fresh run at
the same seed gives (tools/update_docs_numbers.py --check lists every difference)."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


def test_quoted_numbers_are_those_of_a_fresh_run(binary):
    if os.environ.get("MCSPEC_SANITIZED"):
        pytest.skip("the quoted numbers do not depend on the build; the sanitizers only make it slow")
    mkdata = os.environ.get("MCSPEC_MKDATA", binary.parent / "mkdata")
    r = subprocess.run([sys.executable, REPO / "tools" / "update_docs_numbers.py", "--check", "--binary", binary,
                        "--mkdata", mkdata], capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr + "\n(renew them with tools/update_docs_numbers.py)"
