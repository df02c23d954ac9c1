"""docs/tutorial.ipynb runs from start to end, with the program and data the other tests
use (Debian's python3-nbclient and python3-ipykernel execute it)."""

import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]


@pytest.mark.slow
def test_tutorial_notebook_runs(binary, tmp_path, monkeypatch):
    for module in ("nbformat", "nbclient", "ipykernel", "scipy", "distributed"):
        pytest.importorskip(module)
    import nbclient
    import nbformat
    data = tmp_path / "mcdata"
    subprocess.run([sys.executable, REPO / "tools" / "build_atomic_data.py", data], check=True, capture_output=True)
    monkeypatch.setenv("MCSPEC_BINARY", str(binary))
    monkeypatch.setenv("MCDATA", str(data))
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(REPO / "python"), os.environ.get("PYTHONPATH", "")]))
    nb = nbformat.read(REPO / "docs" / "tutorial.ipynb", as_version=4)
    nbclient.NotebookClient(nb, timeout=900, kernel_name="python3",
                            resources={"metadata": {"path": str(REPO / "docs")}}).execute()
    text = "".join(o.get("text", "") for c in nb.cells if c.cell_type == "code" for o in c.outputs)
    assert "5 evaluations; best VPH" in text, text
