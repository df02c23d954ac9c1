"""Former home of the readers and writers, kept so that ``mcspec.io.X`` still works:
readers of output files are in `mcspec.outputs`, the inputs in `mcspec.inputs`, the
errors in `mcspec.errors`."""

from .errors import *  # noqa: F401,F403
from .inputs import *  # noqa: F401,F403
from .outputs import *  # noqa: F401,F403
from .errors import __all__ as _e
from .inputs import __all__ as _i
from .outputs import __all__ as _o

__all__ = list(_e) + list(_i) + list(_o)
