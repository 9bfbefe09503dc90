// Pictures of a waveform with PLplot and its cairo driver: spectrum,
// constellation, time view, CCDF and eye diagram, alone or as a titled 2 x 2
// sheet, written as PNG, SVG or PDF.
#pragma once

#include <optional>
#include <string>

#include "analysed_waveform.h"
#include "sample_pieces.h"

namespace arbsuite::analysis {

enum class PlotKind { All, Spectrum, Constellation, Time, Ccdf, Eye };
enum class PlotFormat { Png, Svg, Pdf };

// "all", "spectrum", "constellation", "time", "ccdf", "eye".
std::optional<PlotKind> plotKindNamed(const std::string& name);
const char* plotKindName(PlotKind kind);

// The format from the output's extension (.png, .svg, .pdf, in any case), or none.
std::optional<PlotFormat> plotFormatOf(const std::string& path);

// Page size: pixels for PNG, points (1/72 inch) for SVG and PDF.
inline constexpr int kDefaultPlotWidth = 1200;
inline constexpr int kDefaultPlotHeight = 900;
inline constexpr int kMinPlotSide = 400;
inline constexpr int kMaxPlotSide = 8000;

struct PlotRequest {
  std::string output;  // .png, .svg or .pdf
  PlotKind kind = PlotKind::All;
  // Symbol rate in hertz: the constellation shows the symbol instants, the eye
  // needs it. With eyeInSheet the sheet shows the eye in place of the time view.
  std::optional<double> symbolRateHz;
  bool eyeInSheet = false;
  std::string title;     // names the file
  std::string subtitle;  // second title line, may be empty
  int width = kDefaultPlotWidth;
  int height = kDefaultPlotHeight;
};

// Whether drawing kind needs the waveform's clock (all but the CCDF and the
// sample-density constellation do).
bool plotNeedsClock(PlotKind kind, bool withSymbolRate);

// Draws the request into its output through a temporary file that replaces the
// output at the end. The caller has checked the request: a known format, a size
// within the bounds, a symbol rate for the eye, a clock where plotNeedsClock
// says so (else std::invalid_argument). Throws OutputError when the file cannot
// be written. PLplot ends the process itself on errors of its own; the handler
// installed here then removes the temporary file and sets exit status 4.
void writePlot(const Waveform& waveform, const PlotRequest& request);

// The same for the pairs of pieces at clockHz (none: unknown), read in two passes
// before the output is made, in bounded memory whatever their number.
void writePlot(SamplePieces& pieces, std::optional<double> clockHz, const PlotRequest& request);

}  // namespace arbsuite::analysis
