// The rows of an input that is a regular file, read by position in pieces that several threads
// read side by side; placed one piece after the other, by their counts, the pieces' values are
// the values of the rows. The bytes of the rows are cut every pieceBytes.
// - Binary: piece k holds the values whose bytes lie between its cut and the next.
// - Text: piece k holds the numbers of the tokens that start from its cut on (piece 0: from the
//   end of the header) and before the next cut, the last of them read to its end however far
//   past the cut it runs. A token starts at a byte that is no white space after one that is,
//   and no number spans white space, so the reader of a piece reads there exactly the numbers
//   that reading the whole file one number after the other reads there. A piece reads its own
//   bytes and the rest of its last token, never more: a piece within a long run of white space,
//   NULs or one token finds no token start of its own among its bytes and is empty, so reading
//   costs the same on any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decimal/kernels.h"
#include "decimal/scanner.h"
#include "grid/grid.h"

constexpr std::size_t defaultPieceBytes = std::size_t{128} << 10;

// The values a piece holds at most. A binary piece holds its bytes over the values' size. In
// text a number and the one after it take at least two bytes (digits, then white space or the
// sign or point that starts the next); a token that runs on past the next cut adds to a piece,
// and if the values are full then, it is read on in turns (continuePiece).
inline std::size_t pieceValues(GridEncoding encoding, std::size_t pieceBytes) {
  if (encoding == GridEncoding::single) return pieceBytes / sizeof(float);
  if (encoding == GridEncoding::double_precision) return pieceBytes / sizeof(double);
  return pieceBytes / 2 + 2;
}

// The scanner of a piece reader holds the bytes of a piece and the lookahead of a long number.
inline std::size_t pieceScanBuffer(std::size_t pieceBytes) {
  return pieceBytes + (std::size_t{16} << 10);
}

// Where the rows of an input lie in its file, and how to read them.
struct PieceSource {
  PositionalFile file;
  bool open = false;        // false where the rows must be read from the stream
  GridEncoding encoding = GridEncoding::text;
  std::uint64_t first = 0;  // the rows' first byte: after the header (its last number, in text)
  bool endsAtCtrlZ = false;  // the input ends at its first Ctrl-Z (text mode on Windows)
  NumberReader readNumbers = nullptr;
  std::size_t pieceBytes = defaultPieceBytes;  // smaller ones are for tests of the cuts
};

struct Piece {
  CallocArray<double> values;  // pieceValues() of them from values[1] on (values[0] unused)
  std::size_t count = 0;       // values read
  // No values come after these: the input ended (at the end of the file, a Ctrl-Z or a read
  // that failed), or the next number failed.
  bool endsInput = false;
  // The values were full before the end of the piece: the rest starts at resumeAt.
  bool valuesFull = false;
  std::uint64_t resumeAt = 0;
};

// The source of an input's rows once its header has been read, or nothing (not open) where its
// rows must be read from its stream: a pipe, a FIFO, bytes already taken by detection, an input
// that has ended. Close it with closePieceSource.
PieceSource pieceSource(GridInput& grid, NumberReader readNumbers);
void closePieceSource(PieceSource& source);

// Reads piece `index` into `piece`, with a scanner of pieceScanBuffer() bytes for text.
// Failures are values: a piece that meets a number that fails, a read that fails or the end of
// the input ends it.
void readPiece(const PieceSource& source, std::size_t index, TextScanner& scanner, Piece& piece);

// Reads on from where text piece `index`, with its values full, stopped, into its values from
// values[1] again.
void continuePiece(const PieceSource& source, std::size_t index, TextScanner& scanner,
                   Piece& piece);
