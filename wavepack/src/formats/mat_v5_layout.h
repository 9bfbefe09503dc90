// The data elements of a MATLAB v5 file, checked from their tags before libmatio
// reads any value: libmatio accepts a data element of an unknown type, a short one
// or a truncated file and hands back memory it never filled (or zeros), so the
// converter first proves that every value it will read is in the file.
#pragma once

#include <string>

namespace arbsuite::wavepack {

class InputStream;

// Walks the top-level data elements of the v5 file `input` (after its 128-byte
// header, in either byte order), inflating compressed ones, and throws
// std::runtime_error naming the file and the variable (or the element's offset when
// no name can be read) for:
//   an element that runs past the end of the file (a truncated file);
//   a compressed element whose stream is damaged or ends before the variable does;
//   a numeric variable whose array flags, dimensions or name are malformed, whose
//   real or imaginary part has a data type that is not numeric, or holds another
//   number of bytes than its dimensions need;
//   a complex numeric variable without an imaginary part.
// Variables of other classes (text, cells, structures, sparse) are only bounded.
void checkMatV5Layout(InputStream& input);

}  // namespace arbsuite::wavepack
