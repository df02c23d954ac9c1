"""Broad bands in which a synthetic spectrum is compared with an observed one (report,
fit summary): rest-frame air wavelengths in A, lower edge included, upper excluded."""

BANDS = ((3500.0, 4500.0), (4500.0, 5500.0), (5500.0, 6500.0), (6500.0, 8000.0))
