// Independent readers of PNG, SVG and PDF files, for the plot tests.
#include "image_checks.h"

#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

namespace arbtest {
namespace {

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// zlib stream to bytes; empty on a fault.
std::vector<std::uint8_t> inflateAll(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return out;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  std::vector<std::uint8_t> chunk(1 << 16);
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = chunk.data();
    stream.avail_out = static_cast<uInt>(chunk.size());
    status = inflate(&stream, Z_NO_FLUSH);
    out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - stream.avail_out));
    if (status == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  if (status != Z_STREAM_END) out.clear();
  return out;
}

// The number in quotes after name="" in text, in points ("1200pt"); -1 if none.
double attributeInPoints(const std::string& text, const std::string& name) {
  const std::string key = name + "=\"";
  const auto at = text.find(key);
  if (at == std::string::npos) return -1;
  std::size_t used = 0;
  const double value = std::stod(text.substr(at + key.size()), &used);
  return text.compare(at + key.size() + used, 3, "pt\"") == 0 ? value : -1;
}

int paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

}  // namespace

PngPicture readPng(const std::vector<std::uint8_t>& bytes) {
  PngPicture png;
  static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 33 || !std::equal(kSignature, kSignature + 8, bytes.begin())) {
    png.problem = "no PNG signature";
    return png;
  }
  if (std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR") {
    png.problem = "the first chunk is not IHDR";
    return png;
  }
  png.width = bigEndian32(&bytes[16]);
  png.height = bigEndian32(&bytes[20]);
  const int depth = bytes[24];
  const int colourType = bytes[25];
  const int interlace = bytes[28];
  if (depth != 8 || (colourType != 2 && colourType != 6) || interlace != 0) {
    png.problem = "not 8-bit RGB or RGBA without interlace";
    return png;
  }
  const std::size_t channels = colourType == 6 ? 4 : 3;
  std::vector<std::uint8_t> compressed;
  bool ended = false;
  for (std::size_t at = 8; at + 12 <= bytes.size();) {
    const std::uint32_t length = bigEndian32(&bytes[at]);
    const std::string type(bytes.begin() + static_cast<long>(at) + 4,
                           bytes.begin() + static_cast<long>(at) + 8);
    if (at + 12 + length > bytes.size()) break;
    if (type == "IDAT") {
      compressed.insert(compressed.end(), bytes.begin() + static_cast<long>(at) + 8,
                        bytes.begin() + static_cast<long>(at + 8 + length));
    }
    if (type == "IEND") ended = true;
    at += 12 + length;
  }
  if (!ended) {
    png.problem = "no IEND chunk";
    return png;
  }
  const std::vector<std::uint8_t> raw = inflateAll(compressed.data(), compressed.size());
  const std::size_t stride = png.width * channels;
  if (raw.size() != png.height * (stride + 1)) {
    png.problem = "the image data does not inflate to the size of the header";
    return png;
  }
  std::vector<std::uint8_t> previous(stride, 0);
  std::vector<std::uint8_t> row(stride);
  double sum = 0;
  double sumSquares = 0;
  std::set<std::uint32_t> colours;
  for (std::uint32_t y = 0; y < png.height; ++y) {
    const std::uint8_t* line = &raw[y * (stride + 1)];
    const int filter = line[0];
    for (std::size_t x = 0; x < stride; ++x) {
      const int a = x >= channels ? row[x - channels] : 0;
      const int b = previous[x];
      const int c = x >= channels ? previous[x - channels] : 0;
      int predictor = 0;
      switch (filter) {
        case 0:
          predictor = 0;
          break;
        case 1:
          predictor = a;
          break;
        case 2:
          predictor = b;
          break;
        case 3:
          predictor = (a + b) / 2;
          break;
        case 4:
          predictor = paeth(a, b, c);
          break;
        default:
          png.problem = "unknown row filter";
          return png;
      }
      row[x] = static_cast<std::uint8_t>(line[1 + x] + predictor);
    }
    for (std::size_t x = 0; x < png.width; ++x) {
      const std::uint8_t* p = &row[x * channels];
      const double luma = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
      sum += luma;
      sumSquares += luma * luma;
      if (colours.size() < 4096) colours.insert((p[0] << 16) | (p[1] << 8) | p[2]);
    }
    previous = row;
  }
  const double n = static_cast<double>(png.width) * png.height;
  png.lumaVariance = sumSquares / n - (sum / n) * (sum / n);
  png.distinctColours = colours.size();
  return png;
}

SvgPicture readSvg(const std::string& text) {
  SvgPicture svg;
  if (text.rfind("<?xml", 0) != 0 || text.find("<svg") == std::string::npos ||
      text.find("</svg>") == std::string::npos) {
    svg.problem = "not an SVG document";
    return svg;
  }
  const std::string head = text.substr(text.find("<svg"), 400);
  svg.width = attributeInPoints(head, " width");
  svg.height = attributeInPoints(head, " height");
  if (svg.width < 0 || svg.height < 0) {
    svg.problem = "no page size in points";
    return svg;
  }
  for (std::size_t at = text.find("<path"); at != std::string::npos;
       at = text.find("<path", at + 1)) {
    ++svg.paths;
  }
  return svg;
}

PdfPicture readPdf(const std::vector<std::uint8_t>& bytes) {
  PdfPicture pdf;
  const std::string text(bytes.begin(), bytes.end());
  if (text.rfind("%PDF-", 0) != 0 ||
      text.find("%%EOF", text.size() > 1024 ? text.size() - 1024 : 0) == std::string::npos) {
    pdf.problem = "not a PDF file";
    return pdf;
  }
  // "/MediaBox [ 0 0 WIDTH HEIGHT ]"
  const auto box = text.find("/MediaBox");
  const auto open = box == std::string::npos ? box : text.find('[', box);
  const auto close = open == std::string::npos ? open : text.find(']', open);
  double left = -1;
  double bottom = -1;
  std::istringstream numbers(close == std::string::npos ? std::string()
                                                        : text.substr(open + 1, close - open - 1));
  if (!(numbers >> left >> bottom >> pdf.width >> pdf.height) || left != 0 || bottom != 0) {
    pdf.problem = "no MediaBox from 0 0";
    return pdf;
  }
  // Every Flate stream of the file; the page content holds the drawing operators.
  for (std::size_t at = text.find("stream"); at != std::string::npos;
       at = text.find("stream", at + 6)) {
    if (at >= 3 && text.compare(at - 3, 3, "end") == 0) continue;
    std::size_t start = at + 6;
    if (start < text.size() && text[start] == '\r') ++start;
    if (start < text.size() && text[start] == '\n') ++start;
    const std::size_t end = text.find("endstream", start);
    if (end == std::string::npos) break;
    const auto content = inflateAll(bytes.data() + start, end - start);
    if (content.empty()) continue;
    std::istringstream words(std::string(content.begin(), content.end()));
    std::string word;
    while (words >> word) {
      if (word == "S" || word == "s" || word == "f" || word == "f*" || word == "B") {
        ++pdf.strokesAndFills;
      }
      if (word == "Do") ++pdf.images;
    }
    at = end;
  }
  return pdf;
}

}  // namespace arbtest
