#include "grid/text_pieces.h"

#include "platform/os.h"

namespace {

// The first token start at or after `cut` (which lies after the first byte of the rows), or
// noOffset where the file ends first.
std::uint64_t tokenStartFrom(std::FILE* file, std::uint64_t cut) {
  char block[4096];
  std::uint64_t at = cut - 1;  // the byte before the cut tells whether a token starts at it
  char before = 'x';
  for (;;) {
    const std::size_t n = readAt(file, at, block, sizeof block);
    if (n == 0) return noOffset;
    for (std::size_t i = 0; i < n; ++i, ++at) {
      if (at >= cut && isSpace(static_cast<unsigned char>(before)) &&
          !isSpace(static_cast<unsigned char>(block[i])))
        return at;
      before = block[i];
    }
  }
}

// Reads the numbers of the piece's bytes that the scanner is set to, into values[1] on.
void readPieceValues(const TextRowsSource& source, TextScanner& scanner, TextPiece& piece) {
  const std::size_t capacity = pieceValues(source.pieceBytes);
  piece.count = source.readNumbers(scanner, piece.values.get() + 1, capacity);
  piece.more = piece.count == capacity;
  if (piece.more) {
    piece.resumeAt = consumedBytes(scanner);
    return;
  }
  piece.last = stoppedAtNoNumber(scanner) || scanner.metCtrlZ || piece.end == noOffset;
}

}  // namespace

TextRowsSource textRowsSource(GridInput& grid, NumberReader readNumbers) {
  TextRowsSource source;
  if (grid.encoding != GridEncoding::text || grid.kept.count > 0 || !isRegularFile(grid.file))
    return source;
  const std::optional<std::uint64_t> first = fileOffsetOfText(grid.file, consumedBytes(grid.text));
  if (!first) return source;
  source.file = grid.file;
  source.first = *first;
  source.endsAtCtrlZ = textModeEndsAtCtrlZ || grid.text.endsAtCtrlZ;
  source.readNumbers = readNumbers;
  return source;
}

void readTextPiece(const TextRowsSource& source, std::size_t index, TextScanner& scanner,
                   TextPiece& piece) {
  const std::uint64_t cut = source.first + index * source.pieceBytes;
  const std::uint64_t first = index == 0 ? source.first : tokenStartFrom(source.file, cut);
  piece.count = 0;
  piece.more = false;
  piece.last = first == noOffset;
  if (piece.last) return;
  piece.end = tokenStartFrom(source.file, cut + source.pieceBytes);
  scanPiece(scanner, source.file, first, piece.end);
  scanner.endsAtCtrlZ = source.endsAtCtrlZ;
  readPieceValues(source, scanner, piece);
}

void continueTextPiece(const TextRowsSource& source, TextScanner& scanner, TextPiece& piece) {
  scanPiece(scanner, source.file, piece.resumeAt, piece.end);
  scanner.endsAtCtrlZ = source.endsAtCtrlZ;
  readPieceValues(source, scanner, piece);
}
