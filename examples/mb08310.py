"""The photometry of MOA-2008-BLG-310 (Janczak et al. 2010, ApJ 711, 731) as fit-ready data sets.

The seven IPAC tables in data/MB08310/ (see PROVENANCE.md there) have the columns heliocentric
Julian date (full, not HJD - 2450000), relative magnitude and its uncertainty; their headers give
the event's coordinates (J2000), which the models with parallax need.
"""

from __future__ import annotations

import re
from pathlib import Path

from pointlens import Dataset, read_ipac_table

DATA_DIR = Path(__file__).resolve().parent / "data" / "MB08310"

# Janczak et al. (2010): t0 (HJD), u0, tE (days), t* = rho tE (days).
PUBLISHED = {"t0": 2454656.39975, "u0": 0.00300, "tE": 11.14, "t_star": 0.05487}
PUBLISHED["rho"] = PUBLISHED["t_star"] / PUBLISHED["tE"]

# The planet's anomaly, just after the peak: a dip of up to 2.5 % that CTIO I, Danish and Bronberg
# see alike (HJD). A point-lens model cannot follow it, so its points are left out of the fit.
ANOMALY = (2454656.46, 2454656.58)

# Rough values read off the light curve, from which the fits start.
START = (2454656.4, 0.005, 10.0, 0.006)

# Linear limb-darkening coefficients assumed per band: round values of the order that Claret's
# tables give for a solar-type dwarf (Teff ~ 5800 K, log g ~ 4.5). They are not fitted and not
# taken from the paper; the unfiltered Bronberg camera is taken between R and I.
COEFFICIENTS = {"I": 0.55, "R": 0.63, "H": 0.33, "unfiltered": 0.59}

# File, telescope, band.
FILES = (
    ("MOA_0300089_PLC_007.tbl", "MOA", "I"),
    ("CTIO_I_0300089_PLC_005.tbl", "CTIO I", "I"),
    ("CTIO_H_0300089_PLC_004.tbl", "CTIO H", "H"),
    ("Danish_0300089_PLC_006.tbl", "Danish", "I"),
    ("Canopus_0300089_PLC_003.tbl", "Canopus", "I"),
    ("Auck_0300089_PLC_001.tbl", "Auckland", "R"),
    ("Bron_0300089_PLC_002.tbl", "Bronberg", "unfiltered"),
)


def _sexagesimal(text: str) -> float:
    """'17h54m14.53s' or '-34d46m40.99s' as a number of hours or of degrees."""
    match = re.fullmatch(r"([+-]?)(\d+)[hd](\d+)m([\d.]+)s", text)
    if match is None:
        raise ValueError(f"not an angle in hours or degrees, minutes and seconds: {text!r}")
    sign, whole, minutes, seconds = match.groups()
    value = float(whole) + float(minutes) / 60 + float(seconds) / 3600
    return -value if sign == "-" else value


def coordinates(data_dir: Path = DATA_DIR) -> tuple[float, float]:
    """Right ascension and declination in degrees (J2000), as every table's header gives them."""
    found = set()
    for file, _, _ in FILES:
        header = dict(re.findall(r'^\\(RA|DEC)\s*=\s*"(.*)"', (data_dir / file).read_text(), re.MULTILINE))
        found.add((header["RA"], header["DEC"]))
    if len(found) != 1:
        raise ValueError(f"the tables' headers disagree on the coordinates: {sorted(found)}")
    ((ra, dec),) = found
    return 15 * _sexagesimal(ra), _sexagesimal(dec)


def load(data_dir: Path = DATA_DIR) -> list[Dataset]:
    """The seven data sets, with the points of the planetary anomaly masked."""
    datasets = []
    for file, name, band in FILES:
        table = read_ipac_table(data_dir / file)
        d = Dataset.from_magnitudes(name, band, COEFFICIENTS[band], table[:, 0], table[:, 1], table[:, 2])
        d.mask = ~((d.t >= ANOMALY[0]) & (d.t <= ANOMALY[1]))
        datasets.append(d)
    return datasets
