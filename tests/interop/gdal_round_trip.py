#!/usr/bin/env python3
"""GDAL as a client of cellprod.

gdal_translate writes pairs of text grids from rasters a GIS user would have, by the README's
recipes (gdalwarp first where the empty cells hold the lowest float or NaN); cellprod
multiplies each pair into a text, a single and a double output; GDAL opens every output (the
binary ones through the ENVI header that cellprod-hdr writes, with and without grid 1's .prj,
and through a VRT, as the README shows) and every cell, the georeference, the nodata value, the
coordinate system and the statistics block are checked; then cellprod multiplies its own outputs
and the empty cells must stay empty. cellprod-hdr must refuse a header it did not write, a short
output and a text grid.

Usage: gdal_round_trip.py CELLPROD CELLPROD_HDR. Exits 77 (skipped) with the reason where GDAL's Python
bindings, numpy or gdal_translate are missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77

try:
    import numpy as np
    from osgeo import gdal, osr
except ImportError as missing:
    # Debian's GDAL bindings belong to Debian's own Python, which need not come first on PATH.
    system_python = "/usr/bin/python3"
    if os.path.exists(system_python) and os.path.realpath(sys.executable) != os.path.realpath(
            system_python):
        os.execv(system_python, [system_python] + sys.argv)
    print(f"skipped: {missing} (install python3-gdal and python3-numpy)")
    sys.exit(SKIPPED)

if shutil.which("gdal_translate") is None:
    print("skipped: gdal_translate not found (install gdal-bin)")
    sys.exit(SKIPPED)

gdal.UseExceptions()
# Text grids are read as doubles, which is what cellprod reads them as.
gdal.SetConfigOption("AAIGRID_DATATYPE", "Float64")

TOOL = os.path.abspath(sys.argv[1])
HEADER_TOOL = os.path.abspath(sys.argv[2])
LOWEST_FLOAT = -3.4028234663852886e38
SRS = osr.SpatialReference()
SRS.ImportFromEPSG(25832)


class Case:
    def __init__(self, name, gdal_type, nodata, xll, yll, cellsize, ncols=37, nrows=23,
                 warp=None, source_nodata=None):
        self.name, self.gdal_type, self.nodata = name, gdal_type, nodata
        # With `warp`, the README's recipe for a raster whose empty cells hold source_nodata:
        # gdalwarp WARP -dstnodata NODATA converts them, then gdal_translate writes the grid.
        self.warp, self.source_nodata = warp, nodata if source_nodata is None else source_nodata
        self.xll, self.yll, self.cellsize = xll, yll, cellsize
        self.ncols, self.nrows = ncols, nrows

    def geotransform(self):
        top = self.yll + self.nrows * self.cellsize
        return (self.xll, self.cellsize, 0.0, top, 0.0, -self.cellsize)


CASES = [
    Case("float32_lowest", gdal.GDT_Float32, LOWEST_FLOAT, 3500000, 5600000, 25),
    Case("float64_fraction", gdal.GDT_Float64, -99999.99, 3500000, 5600000, 25),
    Case("seven_digit_corner", gdal.GDT_Float64, -9999, 3500012.5, 5600025, 12.5),
    Case("float32_lowest_warped", gdal.GDT_Float32, -9999, 3500000, 5600000, 25, warp=[],
         source_nodata=LOWEST_FLOAT),
    Case("float32_nan_warped", gdal.GDT_Float32, -9999, 3500000, 5600000, 25,
         warp=["-srcnodata", "nan"], source_nodata=float("nan")),
]


def fail(text):
    print("FAILED:", text)
    sys.exit(1)


def expect(condition, text):
    if not condition:
        fail(text)


def run_tool(workdir, *args):
    r = subprocess.run([TOOL, *args], cwd=workdir, capture_output=True)
    return r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")


def run_ok(workdir, case, *args):
    status, out, err = run_tool(workdir, *args)
    expect((status, out, err) == (0, "." * case.nrows + "\n", ""),
           f"{case.name}: cellprod {' '.join(args)} gave status {status}, {out!r}, {err!r}")


def write_input(workdir, case, seed):
    """A GeoTIFF of the case's type, turned into a text grid by gdal_translate."""
    rng = np.random.default_rng(seed)
    values = rng.uniform(-1000, 1000, (case.nrows, case.ncols))
    empty = rng.random(values.shape) < 0.1
    values[empty] = case.source_nodata
    values[0, :3], empty[0, :3] = (0.0, 1.0, -2.5), False
    tif = os.path.join(workdir, f"{case.name}_{seed}.tif")
    ds = gdal.GetDriverByName("GTiff").Create(tif, case.ncols, case.nrows, 1, case.gdal_type)
    ds.SetGeoTransform(case.geotransform())
    ds.SetSpatialRef(SRS)
    ds.GetRasterBand(1).SetNoDataValue(case.source_nodata)
    ds.GetRasterBand(1).WriteArray(values)
    ds = None
    asc = f"{case.name}_{seed}.asc"
    label = ["-a_nodata", repr(case.nodata)]
    if case.warp is not None:
        subprocess.run(["gdalwarp", "-q", *case.warp, "-dstnodata", repr(case.nodata), tif,
                        tif + ".warped.tif"], cwd=workdir, check=True)
        tif, label = tif + ".warped.tif", []
    subprocess.run(["gdal_translate", "-q", "-of", "AAIGrid", *label, "-co", "FORCE_CELLSIZE=YES",
                    tif, asc], cwd=workdir, check=True)
    expect(np.array_equal(read_grid(os.path.join(workdir, asc))[2] == case.nodata, empty),
           f"{case.name}: the empty cells of the raster are not the empty cells of {asc}")
    return asc


def expect_srs(path):
    """The coordinate system of the inputs, through grid 1's .prj or the ENVI sidecar."""
    srs = gdal.Open(path).GetSpatialRef()
    expect(srs is not None and srs.IsSame(SRS), f"{path}: coordinate system {srs}")


def read_grid(path):
    ds = gdal.Open(path)
    band = ds.GetRasterBand(1)
    return ds.GetGeoTransform(), band.GetNoDataValue(), band.ReadAsArray().astype(np.float64)


def six_digits(values):
    return np.array([float("%.6g" % v) for v in values.ravel()]).reshape(values.shape)


def expected_statistics(products, counted):
    """The statistics block as cellprod defines it: sums in row order, each step rounded."""
    x = products[counted]
    count = float(x.size)
    if x.size == 0:
        return [0.0, 0.0, 0.0, 0.0, -9999.0, -9999.0]
    total = np.cumsum(x)[-1]
    squares = np.cumsum(x * x)[-1]
    mean = total / count
    deviation = -9999.0
    if x.size > 2:
        q = squares - total * total / count
        deviation = float(np.sqrt(q / (count - 1))) if q > 0 else 0.0
    return [count, x.min(), x.max(), total, mean, deviation]


def companion_header(workdir, path, *args):
    """The ENVI header of a binary output, as cellprod-hdr writes it: `name.flt.hdr`."""
    r = subprocess.run([HEADER_TOOL, os.path.basename(path), *args], cwd=workdir,
                       capture_output=True)
    expect((r.returncode, r.stdout, r.stderr) == (0, (os.path.basename(path) + ".hdr\n").encode(),
                                                  b""),
           f"cellprod-hdr {path} {args}: status {r.returncode}, {r.stdout!r}, {r.stderr!r}")


def vrt(path, case, value_type, nodata):
    """The same grid described by a VRT."""
    size = np.dtype(value_type).itemsize
    gt = ", ".join(repr(v) for v in case.geotransform())
    name = os.path.splitext(path)[0] + ".vrt"
    with open(name, "w") as f:
        f.write(f'<VRTDataset rasterXSize="{case.ncols}" rasterYSize="{case.nrows}">\n'
                f"  <GeoTransform>{gt}</GeoTransform>\n"
                f'  <VRTRasterBand dataType="{"Float32" if size == 4 else "Float64"}" band="1" '
                f'subClass="VRTRawRasterBand">\n'
                f"    <NoDataValue>{nodata!r}</NoDataValue>\n"
                f'    <SourceFilename relativeToVRT="1">{os.path.basename(path)}</SourceFilename>\n'
                f"    <ImageOffset>{12 * size}</ImageOffset>\n"
                f"    <PixelOffset>{size}</PixelOffset>\n"
                f"    <LineOffset>{size * case.ncols}</LineOffset>\n"
                f"    <ByteOrder>LSB</ByteOrder>\n"
                f"  </VRTRasterBand>\n</VRTDataset>\n")
    return name


def check_text_output(workdir, case, gt, empty, products):
    shutil.copy(os.path.join(workdir, case.a[:-4] + ".prj"), os.path.join(workdir, "product.prj"))
    expect_srs(os.path.join(workdir, "product.asc"))
    out_gt, nodata, cells = read_grid(os.path.join(workdir, "product.asc"))
    expect(out_gt == gt, f"{case.name}: georeference {out_gt} instead of {gt}")
    expect(nodata == case.nodata, f"{case.name}: nodata {nodata!r} instead of {case.nodata!r}")
    expect(np.all(cells[empty] == nodata), f"{case.name}: an empty cell is not nodata to GDAL")
    full = ~empty
    expect(np.array_equal(cells[full], six_digits(products[full])),
           f"{case.name}: a text cell is not the product to six digits")
    return cells


def check_binary_output(workdir, case, value_type, option, empty, products):
    path = os.path.join(workdir, "product" + (".flt" if value_type == np.float32 else ".dbl"))
    run_ok(workdir, case, case.a, case.b, os.path.basename(path), option)
    raw = open(path, "rb").read()
    size = np.dtype(value_type).itemsize
    header = np.frombuffer(raw, dtype=np.dtype(value_type).newbyteorder("<"), count=12)
    nodata = float(value_type(case.nodata))
    expect(list(header[:6]) == [value_type(v) for v in (case.ncols, case.nrows, case.xll,
                                                        case.yll, case.cellsize, nodata)],
           f"{case.name}: binary header {header[:6]}")
    expect(len(raw) == 12 * size + case.ncols * case.nrows * size, f"{case.name}: file size")
    cells = np.where(empty, case.nodata, products).astype(value_type)
    counted = ~empty & (products > case.nodata + 1.0)
    stats = np.array(expected_statistics(products, counted)).astype(value_type)
    expect(np.array_equal(header[6:], stats),
           f"{case.name}: statistics block {header[6:]} instead of {stats}")
    # The single output's header with grid 1's coordinate system, the double one's without.
    if value_type == np.float32:
        companion_header(workdir, path, case.a[:-4] + ".prj")
        expect_srs(path)
    else:
        companion_header(workdir, path)
    for name in (path, vrt(path, case, value_type, nodata)):
        gt, got_nodata, got = read_grid(name)
        expect(gt == case.geotransform(), f"{case.name}: {name} georeference {gt}")
        expect(got_nodata == nodata, f"{case.name}: {name} nodata {got_nodata!r}")
        expect(np.array_equal(got.astype(value_type), cells), f"{case.name}: {name} cells")
        expect(np.all(got[empty] == got_nodata), f"{case.name}: {name} empty cells")


def check_case(workdir, case):
    case.a, case.b = write_input(workdir, case, 1), write_input(workdir, case, 2)
    gt, nodata_a, a = read_grid(os.path.join(workdir, case.a))
    _, nodata_b, b = read_grid(os.path.join(workdir, case.b))
    expect(gt == case.geotransform() and nodata_a == nodata_b == case.nodata,
           f"{case.name}: GDAL wrote {gt}, nodata {nodata_a!r}")
    empty = (a == case.nodata) | (b == case.nodata)
    products = np.where(empty, case.nodata, b * a)

    run_ok(workdir, case, case.a, case.b, "product.asc")
    cells = check_text_output(workdir, case, gt, empty, products)
    check_binary_output(workdir, case, np.float32, "-f:s", empty, products)
    check_binary_output(workdir, case, np.float64, "-f:d", empty, products)

    # The output multiplied by itself: exactly its empty cells stay empty.
    run_ok(workdir, case, "product.asc", "product.asc", "squared.asc")
    _, nodata, squared = read_grid(os.path.join(workdir, "squared.asc"))
    was_empty = cells == case.nodata
    expect(np.array_equal(squared == nodata, was_empty),
           f"{case.name}: empty cells of the output product differ from the output's")
    expect(np.array_equal(squared[~was_empty], six_digits(cells[~was_empty] ** 2)),
           f"{case.name}: a cell of the output product is wrong")
    print(f"{case.name}: {int(empty.sum())} empty cells of {empty.size}, "
          f"text, single and double outputs as GDAL reads them")


def check_refusals(workdir):
    """What cellprod-hdr leaves alone: another program's header, a short output, a text grid."""
    product = os.path.join(workdir, "product.flt")
    with open(product + ".hdr", "w") as f:
        f.write("ENVI\nsamples = 1\n")
    with open(product, "rb") as f:
        whole = f.read()
    with open(os.path.join(workdir, "short.flt"), "wb") as f:
        f.write(whole[:-3])
    for args, status, text in (
            (["product.flt"], 4, "product.flt.hdr exists and was not written by cellprod-hdr: "
                                 "it is left as it is\n"),
            (["short.flt"], 3, f"short.flt is no whole single or double grid of cellprod: its "
                               f"{len(whole) - 3} bytes are neither 48 + 4 x ncols x nrows nor 96 "
                               f"+ 8 x ncols x nrows of its header\n"),
            ([CASES[0].a], 3, None)):
        r = subprocess.run([HEADER_TOOL, *args], cwd=workdir, capture_output=True, text=True)
        expect(r.returncode == status and (text is None or r.stdout == text) and r.stderr == "",
               f"cellprod-hdr {args}: status {r.returncode}, {r.stdout!r}")
    with open(product + ".hdr") as f:
        expect(f.read() == "ENVI\nsamples = 1\n", "cellprod-hdr changed a header of another")
    print("cellprod-hdr refuses another program's header, a short output and a text grid")


def main():
    if len(sys.argv) != 3:
        fail("usage: gdal_round_trip.py CELLPROD CELLPROD_HDR")
    print("GDAL", gdal.__version__)
    with tempfile.TemporaryDirectory(prefix="cellprod-gdal-") as workdir:
        for case in CASES:
            check_case(workdir, case)
        check_refusals(workdir)


if __name__ == "__main__":
    main()
