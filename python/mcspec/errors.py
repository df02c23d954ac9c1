"""The exceptions of the package: every error it raises for a bad file, a bad value or
argument, a failed run or a bad fit configuration derives from `McspecError`.

They also derive from ValueError where the fault is a value (a file's content, an
argument), so that ``except ValueError`` in older code still catches them.
"""

from __future__ import annotations

from pathlib import Path
from typing import Optional, Union

__all__ = ["McspecError", "FileFormatError", "InputValueError", "RunError", "RunFailed",
           "IncompleteRunError", "ConfigError"]


class McspecError(Exception):
    """Base of every error the package raises for bad input, bad arguments or a failed run."""


class FileFormatError(McspecError, ValueError):
    """A file that cannot be read: missing, empty, undecodable, cut short or malformed.

    Attributes
    ----------
    path : str
        The file.
    line : int or None
        The record (1-based line number) at fault; None for the file as a whole.
    field : str or None
        The field of the record at fault (its name in the file's layout), if one.
    reason : str
        What is wrong.
    """

    def __init__(self, path: Union[str, Path], line: Optional[int] = None, field: Optional[str] = None,
                 reason: str = ""):
        self.path, self.line, self.field, self.reason = str(path), line, field, reason
        where = f'"{path}"'
        if line is not None:
            where += f", record {line}"
        if field:
            where += f", field {field}"
        super().__init__(f"{where}: {reason}")


class InputValueError(McspecError, ValueError):
    """A value or argument the program would refuse (type, finiteness or limit)."""


class RunError(McspecError):
    """The program could not be run, or did not finish (timeout)."""


class RunFailed(RunError):
    """The program ended with a non-zero exit status; the message is its own (stderr).

    Attributes
    ----------
    status : int
        Exit status (2 input error, 3 run stopped, 4 internal fault, 130/143 interrupted).
    directory : pathlib.Path
        The run directory.
    stdout, stderr : str
        The program's output.
    """

    def __init__(self, message: str, status: int, directory, stdout: str, stderr: str):
        super().__init__(message)
        self.status, self.directory, self.stdout, self.stderr = status, directory, stdout, stderr


class IncompleteRunError(McspecError):
    """A run directory with files missing, empty or damaged.

    Attributes
    ----------
    directory : pathlib.Path
        The run directory.
    problems : dict
        File name -> what is wrong with it ("missing", "empty" or the reader's message).
    """

    def __init__(self, directory, problems: dict):
        self.directory, self.problems = directory, dict(problems)
        listed = "; ".join(f"{k}: {v}" for k, v in self.problems.items())
        super().__init__(f"{directory}: incomplete run ({listed})")


class ConfigError(McspecError, ValueError):
    """A fit configuration that cannot be used; the message names the file, section and key."""
