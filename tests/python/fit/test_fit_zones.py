"""The fit on a model with zones.dat: the files of one vector with X(Si)@2, and the
configurations refused before any model runs."""
import pytest

import mcspec
from mcspec import fit as mfit
from mcspec.fit.engine import SerialEngine
from mcspec.fit.search import Fit

from conftest import FIT_CONFIG, fit_dir

# Zone 2 sums to 2 (the program normalises it): its O is 0.25, its Si 0.5 of the zone.
ZONES = "# three zones\nv_outer O Si Fe\n9000 0.1 0.2 0.7\n12000 0.5 1.0 0.5\n20000 0.9 0.1 0\n"
CONFIG = FIT_CONFIG.replace('VPH = [7000.0, 13000.0]\n"X(Si)" = [0.1, 0.7]', '"X(Si)@2" = [0.1, 0.7]')


@pytest.fixture
def model(tmp_path):
    return fit_dir(tmp_path, CONFIG, zones=ZONES)


def test_zone_fraction_files(model):
    (model / "fit.toml").write_text(CONFIG.replace("[fit]", '[overrides]\n"X(Ni56)@3" = 0.2\n[fit]'))
    f = Fit(mfit.load(str(model / "fit.toml")), SerialEngine(), str(model), run_fn=None)
    files = f.files_for((9.5, 0.6))
    assert "comp.ind" not in files
    (model / "zones.dat").write_text(files["zones.dat"])
    z = mcspec.read_zones(model / "zones.dat")
    assert list(z.fractions) == ["O", "Si", "Fe", "Ni56"] and list(z.v_outer) == [9000, 12000, 20000]
    # zone 2: Si set, Fe as normalised, O takes up the rest; zone 3: Ni56 added, O fills.
    assert [z.fractions[c][1] for c in ("O", "Si", "Fe", "Ni56")] == pytest.approx([0.15, 0.6, 0.25, 0])
    assert [z.fractions[c][2] for c in ("O", "Si", "Fe", "Ni56")] == pytest.approx([0.7, 0.1, 0, 0.2])
    assert [z.fractions[c][0] for c in ("O", "Si", "Fe", "Ni56")] == [0.1, 0.2, 0.7, 0.0]  # untouched


@pytest.mark.parametrize("change, message", [
    (('"X(Si)@2"', '"X(Si)@4"'), "zones 1..3 (1 innermost), not 4"),
    (('"X(Si)@2"', '"X(Si)"'), "name the zone of a mass fraction"),
    (('"X(Si)@2"', '"X(Xx)@2"'), "unknown column 'Xx'"),
    (('"X(Si)@2"', '"X(O)@2"'), "filler element cannot be a fitted parameter"),
    (('"X(Si)@2" = [0.1, 0.7]', '"X(Si)@2" = [0.6, 0.7]\n"X(Fe)@2" = [0.5, 0.9]'), "in zone 2 the mass fractions"),
    (("[fit]", "[composition]\nfiller = \"Ni57\"\n[fit]"), "filler: unknown element 'Ni57'"),
])
def test_zone_config_refused(model, change, message):
    (model / "fit.toml").write_text(CONFIG.replace(*change, 1))
    with pytest.raises(mcspec.ConfigError, match=message.replace("(", r"\(").replace(")", r"\)")):
        mfit.load(str(model / "fit.toml"))


def test_composition_files_refused(model):
    (model / "model" / "comp.ind").write_text("  8 O  1.0\n")
    with pytest.raises(mcspec.ConfigError, match="both zones.dat and comp.ind"):
        mfit.load(str(model / "fit.toml"))
    (model / "model" / "zones.dat").unlink()
    with pytest.raises(mcspec.ConfigError, match="not zones.dat"):
        mfit.load(str(model / "fit.toml"))
