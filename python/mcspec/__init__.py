"""mcspec: read, write, run and plot the Monte Carlo supernova spectrum program.

    import mcspec
    r = mcspec.read_run("runs/sn2011fe-max-...")     # everything a run wrote
    a = mcspec.read_spct("spct.dat")                  # (n, 6) observed-flux spectrum
    r = mcspec.run(example="examples/sn2011fe-max", mcdata="build/mcdata")

See docs/python.md.
"""

from .io import (McspecError, Params, RunResult, read_comp, read_dica, read_eica, read_hydro, read_ionspec,
                 read_atmd, read_lhea, read_observed, read_ptfn, read_run, read_sbib, read_sica, read_spcp, read_spct,
                 read_stst, read_yhea, species_label, write_comp, write_dica, write_hydro)
from .numbers import parse_float
from .runner import RunFailed, find_binary, run

__all__ = [
    "McspecError", "RunFailed", "Params", "RunResult", "read_spct", "read_spcp", "read_sica", "read_eica",
    "read_stst", "read_sbib", "read_yhea", "read_ptfn", "read_lhea", "read_ionspec", "read_atmd", "read_observed",
    "read_run", "read_dica", "read_comp", "read_hydro", "write_dica", "write_comp", "write_hydro", "run",
    "find_binary", "parse_float", "species_label",
]
