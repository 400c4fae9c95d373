// cellprod-hdr: writes the ENVI header with which GDAL and QGIS open a single- or
// double-precision grid of cellprod as it is: `cellprod-hdr product.flt` writes
// `product.flt.hdr`, the name GDAL looks for first. The encoding is told by the file's size
// against its own header read both ways; the header marks itself as this program's, and only
// such a header is ever replaced.
#include <array>
#include <cmath>  // isfinite
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/format.h"
#include "grid/grid.h"
#include "platform/byte_order.h"
#include "platform/console.h"
#include "platform/os.h"

namespace {

namespace status {
constexpr int usage = 1;          // the arguments are not those of the usage text
constexpr int notRead = 2;        // the grid or the coordinate system file cannot be read
constexpr int notAGrid = 3;       // the file is no whole single or double grid
constexpr int foreignHeader = 4;  // a file of the header's name that this program did not write
constexpr int notWritten = 5;     // the header cannot be written
}  // namespace status

// The mark of a header this program wrote, on its second line.
constexpr std::string_view mark = "description = {written by cellprod-hdr";

[[noreturn]] void failWith(int code, const std::string& text) { fail(code, text); }

[[noreturn]] void failUsage() {
  failWith(status::usage,
           "cellprod-hdr: writes the ENVI header that opens a single or double grid of cellprod "
           "in GDAL and QGIS\n"
           "usage : cellprod-hdr <grid> [<grid_1.prj>] [-f:s|d]\n"
           "-f:s|d the grid's encoding, where its size fits a single and a double grid alike\n");
}

struct Arguments {
  std::string grid, prj;
  std::optional<GridEncoding> encoding;
};

Arguments argumentsOf(const std::vector<std::string>& args) {
  Arguments a;
  for (const std::string& arg : args) {
    if (arg.rfind("-f:", 0) == 0) {
      if (a.encoding || (arg != "-f:s" && arg != "-f:d")) failUsage();
      a.encoding = arg == "-f:s" ? GridEncoding::single : GridEncoding::double_precision;
    } else if (a.grid.empty()) {
      a.grid = arg;
    } else if (a.prj.empty()) {
      a.prj = arg;
    } else {
      failUsage();
    }
  }
  if (a.grid.empty()) failUsage();
  return a;
}

// Up to n bytes from the start of a file, and its size.
struct FileStart {
  std::string bytes;
  std::uint64_t size = 0;
};

std::optional<FileStart> readStart(const std::string& name, std::size_t n) {
  std::FILE* file = openFile(name, "rb");
  if (file == nullptr) return std::nullopt;
  FileStart start;
  const std::optional<std::uint64_t> size = regularFileSize(file);
  start.bytes.resize(n);
  start.bytes.resize(std::fread(start.bytes.data(), 1, n, file));
  const bool read = size.has_value() && std::ferror(file) == 0;
  std::fclose(file);
  if (!read) return std::nullopt;
  start.size = *size;
  return start;
}

// The grid's header read as values of type T, where the file holds them, and whether the file
// is then exactly that header and nrows rows of ncols values, at least one of each.
template <class T>
std::optional<GridHeader> headerThatFits(const FileStart& file) {
  constexpr std::uint64_t headerBytes = headerValues * sizeof(T);
  if (file.bytes.size() < headerBytes) return std::nullopt;
  GridHeader header;
  for (int i = 0; i < headerValues; ++i)
    header.values[static_cast<std::size_t>(i)] = byte_order::loadLittleEndian<T>(
        reinterpret_cast<const unsigned char*>(file.bytes.data()) + i * sizeof(T));
  const double ncols = header.at(position::ncols), nrows = header.at(position::nrows);
  const auto usable = [](double x) { return std::isfinite(x) && x >= 1 && x < 2147483648.0; };
  if (!usable(ncols) || !usable(nrows) || file.size < headerBytes) return std::nullopt;
  const auto cells = static_cast<std::uint64_t>(ncols) * static_cast<std::uint64_t>(nrows);
  if ((file.size - headerBytes) / sizeof(T) != cells || (file.size - headerBytes) % sizeof(T) != 0)
    return std::nullopt;
  return header;
}

std::string numberText(double x) {
  char text[maxGeneralLength];
  return std::string(text, formatRoundTrip(text, x));
}

// The coordinate system of the `.prj` file on one line, or nothing where none is named.
std::string coordinateSystem(const std::string& prj) {
  if (prj.empty()) return {};
  const std::optional<FileStart> file = readStart(prj, std::size_t{1} << 20);
  if (!file) failWith(status::notRead, "could not read coordinate system file " + prj + "\n");
  std::string text = file->bytes;
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  while (!text.empty() && isSpace(static_cast<unsigned char>(text.back()))) text.pop_back();
  return text;
}

std::string enviHeader(const Arguments& a, GridEncoding encoding, const GridHeader& header) {
  const bool single = encoding == GridEncoding::single;
  const double rows = std::trunc(header.at(position::nrows));
  const double cellsize = header.at(position::cellsize);
  const double top = header.at(position::yllcorner) + rows * cellsize;
  const std::string crs = coordinateSystem(a.prj);
  std::string text = "ENVI\n" + std::string(mark) + " for " + a.grid + "}\n";
  text += "samples = " + std::to_string(static_cast<long>(header.at(position::ncols))) + "\n";
  text += "lines = " + std::to_string(static_cast<long>(rows)) + "\n";
  text += "bands = 1\nheader offset = " + std::string(single ? "48" : "96") + "\n";
  text += "file type = ENVI Standard\ndata type = " + std::string(single ? "4" : "5") + "\n";
  text += "interleave = bsq\nbyte order = 0\n";
  text += "map info = {Arbitrary, 1, 1, " + numberText(header.at(position::xllcorner)) + ", " +
          numberText(top) + ", " + numberText(cellsize) + ", " + numberText(cellsize) + "}\n";
  if (!crs.empty()) text += "coordinate system string = {" + crs + "}\n";
  text += "data ignore value = " + numberText(header.at(position::nodata_value)) + "\n";
  return text;
}

// Writes the header, where no file of its name is there or one this program wrote.
void writeHeader(const std::string& name, const std::string& text) {
  if (const std::optional<FileStart> old = readStart(name, 4096);
      old && old->bytes.find("\n" + std::string(mark)) == std::string::npos)
    failWith(status::foreignHeader,
             name + " exists and was not written by cellprod-hdr: it is left as it is\n");
  std::FILE* file = openFile(name, "wb");
  if (file == nullptr) failWith(status::notWritten, "could not write " + name + "\n");
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (!closeStream(file) || !written)
    failWith(status::notWritten, "could not write " + name + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments a = argumentsOf(commandLineArguments(argc, argv));
  const std::optional<FileStart> file = readStart(a.grid, headerValues * sizeof(double));
  if (!file) failWith(status::notRead, "could not open grid file " + a.grid + "\n");
  const std::optional<GridHeader> single = headerThatFits<float>(*file);
  const std::optional<GridHeader> twice = headerThatFits<double>(*file);
  const std::string bytes = std::to_string(file->size) + " bytes";
  if (!single && !twice)
    failWith(status::notAGrid, a.grid + " is no whole single or double grid of cellprod: its " +
                                   bytes +
                                   " are neither 48 + 4 x ncols x nrows nor 96 + 8 x ncols"
                                   " x nrows of its header\n");
  if (single && twice && !a.encoding)
    failWith(status::notAGrid, a.grid + " fits a single and a double grid alike (" + bytes +
                                   "): give -f:s or -f:d\n");
  const GridEncoding encoding =
      a.encoding.value_or(single ? GridEncoding::single : GridEncoding::double_precision);
  const std::optional<GridHeader>& header = encoding == GridEncoding::single ? single : twice;
  if (!header)
    failWith(status::notAGrid, a.grid + " is no whole " +
                                   (encoding == GridEncoding::single ? "single" : "double") +
                                   " grid of cellprod (" + bytes + ")\n");
  const std::string name = a.grid + ".hdr";
  writeHeader(name, enviHeader(a, encoding, *header));
  say(name + "\n");
  return 0;
}
