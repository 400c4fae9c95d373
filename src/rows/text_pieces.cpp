#include "rows/text_pieces.h"

#include "platform/os.h"

namespace {

// Reads the numbers of the piece's bytes that the scanner is set to, into values[1] on.
void readPieceValues(const TextRowsSource& source, TextScanner& scanner, TextPiece& piece) {
  const std::size_t capacity = pieceValues(source.pieceBytes);
  piece.count = source.readNumbers(scanner, piece.values.get() + 1, capacity);
  piece.valuesFull = piece.count == capacity;
  if (piece.valuesFull) {
    piece.resumeAt = consumedBytes(scanner);
    return;
  }
  piece.endsInput = stoppedAtNoNumber(scanner) || !scanner.endedAtLimit;
}

std::uint64_t limitOf(const TextRowsSource& source, std::size_t index) {
  return source.first + (index + 1) * source.pieceBytes;
}

}  // namespace

TextRowsSource textRowsSource(GridInput& grid, NumberReader readNumbers) {
  TextRowsSource source;
  if (grid.encoding != GridEncoding::text || grid.kept.count > 0 || !isRegularFile(grid.file) ||
      !openPositional(grid.file, source.file))
    return source;
  const std::optional<std::uint64_t> first = fileOffsetOfText(source.file, consumedBytes(grid.text));
  if (!first) {
    closePositional(source.file);
    return source;
  }
  source.open = true;
  source.first = *first;
  source.endsAtCtrlZ = textModeEndsAtCtrlZ || grid.text.endsAtCtrlZ;
  source.readNumbers = readNumbers;
  return source;
}

void closeTextRowsSource(TextRowsSource& source) {
  if (source.open) closePositional(source.file);
  source.open = false;
}

void readTextPiece(const TextRowsSource& source, std::size_t index, TextScanner& scanner,
                   TextPiece& piece) {
  piece.count = 0;
  piece.valuesFull = false;
  piece.endsInput = false;
  const std::uint64_t cut = source.first + index * source.pieceBytes;
  // Piece 0 starts at the end of the header; every other one from the byte before its cut,
  // which tells whether a token starts at the cut.
  scanPiece(scanner, source.file, index == 0 ? cut : cut - 1, limitOf(source, index));
  scanner.endsAtCtrlZ = source.endsAtCtrlZ;
  if (index > 0 && !skipToTokenStart(scanner)) {
    piece.endsInput = !scanner.endedAtLimit;
    return;
  }
  readPieceValues(source, scanner, piece);
}

void continueTextPiece(const TextRowsSource& source, std::size_t index, TextScanner& scanner,
                       TextPiece& piece) {
  scanPiece(scanner, source.file, piece.resumeAt, limitOf(source, index));
  scanner.endsAtCtrlZ = source.endsAtCtrlZ;
  readPieceValues(source, scanner, piece);
}
