"""The documentation: the numbers it quotes from the examples' runs are those a fresh run at
the same seed gives (tools/update_docs_numbers.py --check lists every difference), and
docs/tutorial.ipynb runs from start to end with the program and data the other tests use
(Debian's python3-nbclient and python3-ipykernel execute it)."""

import os
import subprocess
import sys

import pytest

from conftest import REPO

def test_quoted_numbers_are_those_of_a_fresh_run(binary, atomic_data):
    if os.environ.get("MCSPEC_SANITIZED"):
        pytest.skip("the quoted numbers do not depend on the build; the sanitizers only make it slow")
    mkdata = os.environ.get("MCSPEC_MKDATA", binary.parent / "mkdata")
    r = subprocess.run([sys.executable, REPO / "tools" / "update_docs_numbers.py", "--check", "--binary", binary,
                        "--mkdata", mkdata, "--mcdata", atomic_data], capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr + "\n(renew them with tools/update_docs_numbers.py)"


@pytest.mark.slow
def test_tutorial_notebook_runs(binary, atomic_data, monkeypatch):
    for module in ("nbformat", "nbclient", "ipykernel", "scipy", "distributed"):
        pytest.importorskip(module)
    import nbclient
    import nbformat
    monkeypatch.setenv("MCSPEC_BINARY", str(binary))
    monkeypatch.setenv("MCDATA", str(atomic_data))
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(REPO / "python"), os.environ.get("PYTHONPATH", "")]))
    nb = nbformat.read(REPO / "docs" / "tutorial.ipynb", as_version=4)
    nbclient.NotebookClient(nb, timeout=900, kernel_name="python3",
                            resources={"metadata": {"path": str(REPO / "docs")}}).execute()
    text = "".join(o.get("text", "") for c in nb.cells if c.cell_type == "code" for o in c.outputs)
    assert "5 evaluations; best VPH" in text, text
