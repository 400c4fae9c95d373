#include "rows/pieces.h"

#include <cstring>  // memcpy

#include "platform/byte_order.h"
#include "platform/os.h"

namespace {

// Reads the numbers of the piece's bytes that the scanner is set to, into values[1] on.
void readPieceValues(const PieceSource& source, TextScanner& scanner, const PieceBytes& bytes,
                     Piece& piece) {
  const std::size_t capacity = pieceValues(source.encoding, source.pieceBytes);
  piece.count = source.readNumbers(scanner, piece.values.get() + 1, capacity);
  piece.valuesFull = piece.count == capacity;
  if (piece.valuesFull) {
    piece.resumeAt = consumedBytes(scanner);
    return;
  }
  piece.endsInput = stoppedAtNoNumber(scanner) || !bytes.endedAtLimit;
}

std::uint64_t limitOf(const PieceSource& source, std::size_t index) {
  return source.first + (index + 1) * source.pieceBytes;
}

void readTextPiece(const PieceSource& source, std::size_t index, TextScanner& scanner,
                   Piece& piece) {
  const std::uint64_t cut = source.first + index * source.pieceBytes;
  // Piece 0 starts at the end of the header; every other one from the byte before its cut,
  // which tells whether a token starts at the cut.
  const std::uint64_t limit = limitOf(source, index);
  PieceBytes bytes{&source.file, index == 0 ? cut : cut - 1, limit};
  attachScanner(scanner, bytes, bytes.from);
  scanner.endsAtCtrlZ = source.endsAtCtrlZ;
  if (index > 0 && !skipToTokenStart(scanner, limit)) {
    piece.endsInput = consumedBytes(scanner) < limit;
    return;
  }
  readPieceValues(source, scanner, bytes, piece);
}

// The values of piece `index` of a binary input. Floats are widened in place, from the last
// back, so that none is overwritten before it is read.
template <class T>
void readBinaryPiece(const PieceSource& source, std::size_t index, Piece& piece) {
  const std::size_t n = pieceValues(source.encoding, source.pieceBytes);
  double* const values = piece.values.get() + 1;
  auto* const bytes = reinterpret_cast<unsigned char*>(values);
  const BytesRead read = readAt(source.file, source.first + index * n * sizeof(T),
                                reinterpret_cast<char*>(bytes), n * sizeof(T));
  piece.count = read.count / sizeof(T);  // whole values, as a read of the stream counts them
  piece.endsInput = piece.count < n;
  if constexpr (sizeof(T) == sizeof(double)) {
    byte_order::fromLittleEndian(values, piece.count);
  } else {
    for (std::size_t i = piece.count; i-- > 0;) {
      const double wide = byte_order::loadLittleEndian<T>(bytes + i * sizeof(T));
      std::memcpy(bytes + i * sizeof(double), &wide, sizeof wide);
    }
  }
}

}  // namespace

PieceSource pieceSource(GridInput& grid, NumberReader readNumbers) {
  PieceSource source;
  if (grid.kept.count > 0 || !isRegularFile(grid.file) || !openPositional(grid.file, source.file))
    return source;
  source.encoding = grid.encoding;
  if (grid.encoding == GridEncoding::text) {
    const std::optional<std::uint64_t> first =
        fileOffsetOfText(source.file, consumedBytes(grid.text));
    if (!first) {
      closePositional(source.file);
      return source;
    }
    source.first = *first;
  } else {
    source.first = headerValues * (grid.encoding == GridEncoding::single ? 4 : 8);
  }
  source.open = true;
  source.endsAtCtrlZ = textModeEndsAtCtrlZ || grid.text.endsAtCtrlZ;
  source.readNumbers = readNumbers;
  return source;
}

void closePieceSource(PieceSource& source) {
  if (source.open) closePositional(source.file);
  source.open = false;
}

void readPiece(const PieceSource& source, std::size_t index, TextScanner& scanner, Piece& piece) {
  piece.count = 0;
  piece.valuesFull = false;
  piece.endsInput = false;
  if (source.encoding == GridEncoding::text) readTextPiece(source, index, scanner, piece);
  else if (source.encoding == GridEncoding::single) readBinaryPiece<float>(source, index, piece);
  else readBinaryPiece<double>(source, index, piece);
}

void continuePiece(const PieceSource& source, std::size_t index, TextScanner& scanner,
                   Piece& piece) {
  PieceBytes bytes{&source.file, piece.resumeAt, limitOf(source, index)};
  attachScanner(scanner, bytes, bytes.from);
  scanner.endsAtCtrlZ = source.endsAtCtrlZ;
  readPieceValues(source, scanner, bytes, piece);
}
