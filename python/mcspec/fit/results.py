"""The evaluations table of a fit (evaluations.tsv in the output directory): one row per
finished evaluation, appended and flushed to disk as it finishes, so that an interrupted fit
resumes from it. Parameter values and chi^2 are written with repr(), which reads back to the
same floats, so a resumed search meets exactly the vectors it memoised. warm_from: the
evaluation whose radiation field the run started from (empty: a cold start); passes: its
temperature passes (0 when it did not run).
"""
from __future__ import annotations

import math
import os

FIXED_COLUMNS = ("chi2", "nbins", "status", "wall_s", "program_s", "worker", "run_dir", "message",
                 "warm_from", "passes")


def _clean(text: str) -> str:
    return " ".join(str(text).split())


class Table:
    def __init__(self, path: str, names: list[str]):
        self.path, self.names = path, list(names)
        self.header = ["eval"] + self.names + list(FIXED_COLUMNS)
        self.rows: list[dict] = []
        if os.path.exists(path) and os.path.getsize(path) > 0:
            self._read()
        else:
            with open(path, "w") as f:
                f.write("\t".join(self.header) + "\n")

    def _read(self):
        with open(self.path) as f:
            text = f.read()
        lines = text.split("\n")
        if lines[0].split("\t") != self.header:
            raise ValueError(f"{self.path}: the columns differ from this configuration's "
                             f"({' '.join(self.header)})")
        good_len = len(lines[0]) + 1
        for n, line in enumerate(lines[1:-1], start=2):   # the last piece follows the last \n
            fields = line.split("\t")
            if len(fields) != len(self.header):
                raise ValueError(f"{self.path}: record {n} has {len(fields)} fields, "
                                 f"{len(self.header)} expected")
            row = dict(zip(self.header, fields))
            for k in ["eval", "nbins", "passes"] + self.names + ["chi2", "wall_s", "program_s"]:
                try:
                    row[k] = (int(row[k]) if k in ("eval", "nbins", "passes")
                              else float(row[k]))
                except ValueError:
                    raise ValueError(f"{self.path}: record {n}, field {k}: not a number: "
                                     f"{row[k]!r}") from None
            self.rows.append(row)
            good_len += len(line) + 1
        if len(text) != good_len:
            # A record cut by an interrupt: drop it, it is computed again.
            with open(self.path, "r+") as f:
                f.truncate(good_len)

    def append(self, row: dict) -> None:
        fields = []
        for k in self.header:
            v = row[k]
            fields.append(repr(float(v)) if isinstance(v, float) else _clean(v))
        with open(self.path, "a") as f:
            f.write("\t".join(fields) + "\n")
            f.flush()
            os.fsync(f.fileno())
        self.rows.append(row)

    def memo(self) -> dict:
        """Parameter vector -> chi^2 (inf for a failed model) of every finished evaluation.
        Rows with status "error" (the evaluation itself could not be carried out) are not
        memoised: they are tried again on resume."""
        return {tuple(r[n] for n in self.names): r["chi2"]
                for r in self.rows if r["status"] != "error"}

    def best(self):
        ok = [r for r in self.rows if r["status"] == "ok" and math.isfinite(r["chi2"])]
        return min(ok, key=lambda r: (r["chi2"], r["eval"])) if ok else None

    def next_eval(self) -> int:
        return max((r["eval"] for r in self.rows), default=0) + 1
