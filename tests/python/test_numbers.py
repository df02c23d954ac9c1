import math

import numpy as np
import pytest

import mcspec
from mcspec.numbers import parse_float


@pytest.mark.parametrize("text, value", [
    ("0.20238-158", 0.20238e-158),     # E15.5 with a three-digit exponent: no letter
    ("0.18566+123", 0.18566e123),
    ("-0.5-100", -0.5e-100),
    ("0.130D+10", 1.3e9),              # D exponent
    ("  -0.3419D-03", -3.419e-4),
    ("0.61503E-12", 6.1503e-13),
    ("2020.38", 2020.38),
    ("-99.0000", -99.0),
    ("Infinity", math.inf), ("-Infinity", -math.inf), ("-Inf", -math.inf),
    ("*******", math.nan), ("***************", math.nan), ("NaN", math.nan),  # values too wide for their field
    ("", None), ("abc", None), ("1.2.3", None), ("E+5", None),  # refused
])
def test_number_forms(text, value):
    if value is None:
        with pytest.raises(ValueError):
            parse_float(text)
    else:
        assert parse_float(text) == pytest.approx(value, rel=1e-15, nan_ok=True)


def test_spct_record_forms(tmp_path):
    # Records as the program writes them (F9.2, 5E15.5), one with a value too wide for its field.
    p = tmp_path / "spct.dat"
    p.write_text("  2017.13    0.20800E-13    0.19079E-13    0.00000E+00    0.00000E+00    0.61789E-12\n"
                 "  2020.38    0.19272E-13    0.17680E-13    0.20238-158    0.18566-158    0.61932E-12\n"
                 "*********    0.17623D-13***************    0.20238-158    0.18569-158    0.62074E-12\n")
    a = mcspec.read_spct(p)
    assert a.shape == (3, 6)
    assert a[1, 3] == pytest.approx(2.0238e-159, rel=1e-15)
    assert a[2, 1] == pytest.approx(1.7623e-14)
    assert np.isnan(a[2, 0]) and np.isnan(a[2, 2])  # a bad record: test_files.py
