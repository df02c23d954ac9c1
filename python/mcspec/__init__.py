"""mcspec: read, write, run and plot the Monte Carlo supernova spectrum program.

    import mcspec
    r = mcspec.read_run("runs/sn2011fe-max-...")     # everything a run wrote
    a = mcspec.read_spct("spct.dat")                  # (n, 6) observed-flux spectrum
    r = mcspec.run(example="examples/sn2011fe-max", mcdata="build/mcdata")

Modules: `outputs` (readers of the output files and their types, `read_run`), `inputs`
(dica.dat, comp.ind, hydro.dat, zones.dat), `runner` (`run`), `plot`, `fit`, `wavelengths` (air and
vacuum), `bands`, `errors` (`McspecError` and its subclasses). See docs/python.md.
"""

from .errors import (ConfigError, FileFormatError, IncompleteRunError, InputValueError, McspecError, RunError,
                     RunFailed)
from .inputs import (Params, Zones, read_comp, read_dica, read_hydro, read_zones, write_comp, write_dica, write_hydro,
                     write_zones)
from .numbers import parse_float
from .outputs import (RunResult, ShellComposition, read_atmd, read_composition, read_eica, read_ionspec, read_lhea,
                      read_observed, read_ptfn, read_run, read_sbib, read_sica, read_spcp, read_spct, read_stst,
                      read_yhea, species_label)
from .runner import find_binary, run

__all__ = [
    "McspecError", "FileFormatError", "InputValueError", "RunError", "RunFailed", "IncompleteRunError",
    "ConfigError", "Params", "RunResult", "read_spct", "read_spcp", "read_sica", "read_eica", "read_stst",
    "read_sbib", "read_yhea", "read_ptfn", "read_lhea", "read_ionspec", "read_atmd", "read_observed", "read_run",
    "read_dica", "read_comp", "read_hydro", "write_dica", "write_comp", "write_hydro", "run", "find_binary",
    "parse_float", "species_label", "Zones", "read_zones", "write_zones", "ShellComposition", "read_composition",
]
