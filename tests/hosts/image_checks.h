// Readers of the pictures the hosts draw, written for the tests only: the PNG
// header and pixels (zlib inflate and the five row filters), the SVG page size
// and drawing elements, the PDF page box and drawing operators of its content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace arbtest {

struct PngPicture {
  std::string problem;  // empty when the file is a PNG this reader decodes
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double lumaVariance = 0;          // over every pixel, luma 0 ... 255
  std::size_t distinctColours = 0;  // up to 4096 counted
};
// 8-bit RGB or RGBA, not interlaced (what cairo writes).
PngPicture readPng(const std::vector<std::uint8_t>& bytes);

struct SvgPicture {
  std::string problem;
  double width = 0;       // points
  double height = 0;      // points
  std::size_t paths = 0;  // <path elements
};
SvgPicture readSvg(const std::string& text);

struct PdfPicture {
  std::string problem;
  double width = 0;  // MediaBox, points
  double height = 0;
  std::size_t strokesAndFills = 0;  // S, s, f, f*, B operators in the content streams
  std::size_t images = 0;           // Do operators
};
PdfPicture readPdf(const std::vector<std::uint8_t>& bytes);

}  // namespace arbtest
