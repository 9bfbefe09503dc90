// Drawing with PLplot (plot_stream.h) on the cairo devices. Every panel is
// drawn into a box of normalised page coordinates (the axes' frame; labels go
// into the margins around it), so that the same code draws a panel alone or as
// one quarter of the sheet.
#include "plot_sheet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "analysis_output.h"
#include "levels.h"
#include "plot_data.h"
#include "plot_stream.h"
#include "stats_report.h"
#include "welch.h"

namespace arbsuite::analysis {
namespace {

// Colour map 0 entries; 0 is the background.
enum Colour : PLINT {
  kBackground = 0,
  kInk = 1,
  kGrid = 2,
  kBlue = 3,
  kOrange = 4,
  kRed = 5,
  kGrey = 6,
  kBlueTrace = 7,
  kOrangeTrace = 8,
};

// How much the panels show of what they draw.
constexpr double kCcdfLowestLog = -4;  // 0.0001 % of the samples
constexpr double kSpectrumRangeDb = 100;

// PLplot sizes characters in proportion to the page, line widths in pixels (or
// points): the widths are multiplied by the page's size relative to 1200 x 900,
// set once per drawing (PLplot's own state is process-wide too).
double gLineWidthScale = 1;

// The axes' frame of a panel in normalised page coordinates.
struct Box {
  double x0, x1, y0, y1;
};

struct Unit {
  double factor;  // multiplies the value in SI units
  const char* name;
};

Unit frequencyUnit(double largestHz) {
  if (largestHz >= 1e9) return {1e-9, "GHz"};
  if (largestHz >= 1e6) return {1e-6, "MHz"};
  if (largestHz >= 1e3) return {1e-3, "kHz"};
  return {1, "Hz"};
}

Unit timeUnit(double longestS) {
  if (longestS >= 1) return {1, "s"};
  if (longestS >= 1e-3) return {1e3, "ms"};
  if (longestS >= 1e-6) return {1e6, "\u00b5s"};
  return {1e9, "ns"};
}

std::string format(const char* pattern, double value) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string hertz(double value) {
  const Unit unit = frequencyUnit(std::fabs(value));
  return format("%.4g ", value * unit.factor) + unit.name;
}

void setPalette(PlotStream& pls) {
  pls.scmap0n(16);
  pls.scol0(kBackground, 255, 255, 255);
  pls.scol0(kInk, 0, 0, 0);
  pls.scol0(kGrid, 215, 215, 215);
  pls.scol0(kBlue, 31, 119, 180);
  pls.scol0(kOrange, 255, 127, 14);
  pls.scol0(kRed, 214, 39, 40);
  pls.scol0(kGrey, 110, 110, 110);
  pls.scol0a(kBlueTrace, 31, 119, 180, 0.10);
  pls.scol0a(kOrangeTrace, 230, 110, 10, 0.10);
  // Density: white for empty cells through light to dark blue.
  const PLFLT position[] = {0.0, 0.12, 0.55, 1.0};
  const PLFLT red[] = {1.0, 0.80, 0.12, 0.02};
  const PLFLT green[] = {1.0, 0.88, 0.47, 0.09};
  const PLFLT blue[] = {1.0, 0.96, 0.71, 0.28};
  pls.scmap1l(true, 4, position, red, green, blue);
}

// Frame, grid and numbers of a panel; world coordinates as given; yTick: the
// interval of the numbered y ticks (0: PLplot's choice).
void frame(PlotStream& pls, const Box& box, double xmin, double xmax, double ymin, double ymax,
           const char* xopt, const char* yopt, double yTick = 0) {
  pls.vpor(box.x0, box.x1, box.y0, box.y1);
  pls.wind(xmin, xmax, ymin, ymax);
  pls.col0(kGrid);
  pls.width(gLineWidthScale);
  pls.box("g", 0, 0, "g", 0, 0);
  pls.col0(kInk);
  pls.box(xopt, 0, 0, yopt, yTick, 0);
}

// Axis labels and the panel's title; yDistance: from the frame to the y label in
// character heights, beyond the widest number of the axis.
void labels(PlotStream& pls, const std::string& x, const std::string& y, const std::string& title,
            double yDistance) {
  pls.col0(kInk);
  pls.mtex("b", 3.0, 0.5, 0.5, x.c_str());
  pls.mtex("l", yDistance, 0.5, 0.5, y.c_str());
  pls.mtex("t", 1.4, 0.5, 0.5, title.c_str());
}

void line(PlotStream& pls, const std::vector<PLFLT>& x, const std::vector<PLFLT>& y, PLINT colour,
          double width, PLINT style = 1) {
  if (x.empty()) return;
  pls.col0(colour);
  pls.width(width * gLineWidthScale);
  pls.lsty(style);
  pls.line(static_cast<PLINT>(x.size()), x.data(), y.data());
  pls.lsty(1);
  pls.width(gLineWidthScale);
}

// A legend of coloured lines, in one row, in the top right corner of the current
// viewport.
void legend(PlotStream& pls, const std::vector<std::string>& names,
            const std::vector<PLINT>& colours, const std::vector<PLINT>& styles, double textScale) {
  const auto count = static_cast<PLINT>(names.size());
  std::vector<const char*> text;
  for (const auto& name : names) text.push_back(name.c_str());
  std::vector<PLINT> options(names.size(), PL_LEGEND_LINE);
  std::vector<PLINT> textColours(names.size(), kInk);
  std::vector<PLFLT> widths(names.size(), 2.0 * gLineWidthScale);
  PLFLT width = 0;
  PLFLT height = 0;
  pls.legend(&width, &height, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
             PL_POSITION_TOP | PL_POSITION_RIGHT | PL_POSITION_INSIDE, 0.02, 0.03, 0.06,
             kBackground, kGrid, 1, 1, count, count, options.data(), 0.8, textScale, 1.8, 0.0,
             textColours.data(), text.data(), nullptr, nullptr, nullptr, nullptr, colours.data(),
             styles.data(), widths.data(), nullptr, nullptr, nullptr, nullptr);
}

void drawSpectrum(PlotStream& pls, const std::optional<Spectrum>& spectrum, double clockHz,
                  const Box& box) {
  const Unit unit = frequencyUnit(clockHz / 2);
  const std::string xLabel = std::string("Frequency (") + unit.name + ")";
  if (!spectrum) {
    frame(pls, box, -clockHz / 2 * unit.factor, clockHz / 2 * unit.factor, -100, 0, "bcnst",
          "bcnstv");
    labels(pls, xLabel, "PSD (dBFS/Hz)", "Spectrum: too few samples", 4.4);
    return;
  }
  const std::size_t n = spectrum->density.size();
  std::vector<PLFLT> x(n);
  std::vector<PLFLT> y(n);
  double top = -400;
  for (std::size_t k = 0; k < n; ++k) {
    x[k] = spectrum->frequency(k) * unit.factor;
    y[k] = 10 * std::log10(std::max(spectrum->density[k], 1e-40));
    top = std::max(top, y[k]);
  }
  const double ymax = std::ceil((top + 5) / 10) * 10;
  double lowest = ymax;
  for (const double v : y) lowest = std::min(lowest, v);
  const double ymin = std::max(std::floor(lowest / 10) * 10, ymax - kSpectrumRangeDb);
  for (auto& v : y) v = std::max(v, ymin);
  frame(pls, box, -clockHz / 2 * unit.factor, clockHz / 2 * unit.factor, ymin, ymax, "bcnst",
        "bcnstv");
  line(pls, x, y, kBlue, 1.2);
  labels(pls, xLabel, "PSD (dBFS/Hz)",
         "Spectrum: Welch, " + std::to_string(n) + "-point Hann, " + countText(spectrum->segments) +
             " averages, bin " + hertz(spectrum->binHz()),
         4.4);
}

void drawConstellation(PlotStream& pls, const PlotFigures& figures, const Box& box,
                       double textScale) {
  const DensityGrid& grid = figures.density;
  const double range = grid.range;
  const bool timing = figures.timing.has_value();
  std::vector<PLFLT> z(grid.counts.size());
  double zmax = 0;
  for (std::size_t k = 0; k < z.size(); ++k) {
    z[k] = std::log10(1 + grid.counts[k]);
    zmax = std::max(zmax, z[k]);
  }
  std::vector<const PLFLT*> columns(grid.cells);
  for (std::size_t k = 0; k < grid.cells; ++k) columns[k] = z.data() + k * grid.cells;

  pls.vpas(box.x0, box.x1, box.y0, box.y1, 1.0);
  pls.wind(-range, range, -range, range);
  if (zmax > 0) {
    // Colours from white (no sample) to dark blue (the fullest cell); under the
    // symbol instants the density stays pale.
    const double darkest = timing ? 4 * zmax : zmax;
    const auto side = static_cast<PLINT>(grid.cells);
    pls.imagefr(columns.data(), side, side, -range, range, -range, range, 0, zmax, 0, darkest,
                nullptr, nullptr);
  }
  pls.col0(kGrid);
  pls.box("g", 0, 0, "g", 0, 0);
  pls.col0(kInk);
  pls.box("bcnst", 0, 0, "bcnstv", 0, 0);
  std::string title =
      "Constellation: density of all " + countText(figures.levels.samples) + " samples";
  if (timing) {
    const auto& values = figures.symbolValues;
    std::vector<PLFLT> x;
    std::vector<PLFLT> y;
    for (const auto& v : values) {
      x.push_back(v.real());
      y.push_back(v.imag());
    }
    pls.col0(kRed);
    pls.schr(0, 1.0 * textScale);
    if (!x.empty()) pls.string(static_cast<PLINT>(x.size()), x.data(), y.data(), "\u2022");
    pls.schr(0, textScale);
    title = "Constellation at " + countText(values.size()) + " symbol instants";
  }
  labels(pls, "I (LSB)", "Q (LSB)", title, 5.0);
}

void drawTime(PlotStream& pls, std::span<const std::int16_t> iq, double clockHz, const Box& box,
              double textScale) {
  const std::size_t count = iq.size() / 2;
  const Unit unit = timeUnit(static_cast<double>(std::max<std::size_t>(count, 1)) / clockHz);
  std::vector<PLFLT> t(count);
  std::vector<PLFLT> i(count);
  std::vector<PLFLT> q(count);
  std::vector<PLFLT> envelope(count);
  double peak = 0;
  for (std::size_t k = 0; k < count; ++k) {
    t[k] = static_cast<double>(k) / clockHz * unit.factor;
    i[k] = iq[2 * k];
    q[k] = iq[2 * k + 1];
    envelope[k] = std::hypot(i[k], q[k]);
    peak = std::max(peak, envelope[k]);
  }
  // Headroom above the largest envelope for the legend.
  const double range = niceCeiling(std::max(1.0, peak * 1.4));
  const double end = count > 1 ? t.back() : 1.0 / clockHz * unit.factor;
  frame(pls, box, 0, end, -range, range, "bcnst", "bcnstv");
  line(pls, t, envelope, kGrey, 1.6);
  line(pls, t, i, kBlue, 1.4);
  line(pls, t, q, kOrange, 1.4);
  legend(pls, {"I", "Q", "envelope"}, {kBlue, kOrange, kGrey}, {1, 1, 1}, 0.8 * textScale);
  labels(pls, std::string("Time (") + unit.name + ")", "Amplitude (LSB)",
         "Time: first " + countText(count) + " samples", 5.0);
}

// Labels of the CCDF's logarithmic axis: the percentage, not its logarithm.
void percentLabel(PLINT, PLFLT value, char* text, PLINT length, PLPointer) {
  std::snprintf(text, static_cast<std::size_t>(length), "%g", std::pow(10.0, value));
}

void drawCcdf(PlotStream& pls, const CcdfCurve& curve, const Box& box, double textScale) {
  double xmax = 12;
  if (!curve.db.empty()) xmax = std::max(xmax, std::ceil(curve.db.back() + 1));
  pls.slabelfunc(percentLabel, nullptr);
  frame(pls, box, 0, xmax, kCcdfLowestLog, 2, "bcnst", "bcnstvlo");
  pls.slabelfunc(nullptr, nullptr);
  std::vector<PLFLT> gx;
  std::vector<PLFLT> gy;
  for (double db = 0; db <= xmax; db += kCcdfStepDb) {
    const double logPercent = std::log10(100 * gaussianCcdf(db));
    if (logPercent < kCcdfLowestLog) break;
    gx.push_back(db);
    gy.push_back(logPercent);
  }
  line(pls, gx, gy, kGrey, 1.6, 2);
  const CcdfLine waveform = ccdfLine(curve, kCcdfLowestLog);
  line(pls, waveform.x, waveform.y, kBlue, 2.0);
  legend(pls, {"waveform", "Gaussian noise"}, {kBlue, kGrey}, {1, 2}, 0.8 * textScale);
  std::string title = "CCDF of the instantaneous power";
  if (curve.db.empty()) title = "CCDF: silent waveform";
  // Said in the title too: at the axis, the line of a constant envelope is easily missed.
  if (waveform.constantEnvelope && waveform.edgeDb == 0) {
    title = "CCDF: constant envelope, PAPR 0 dB";
  } else if (waveform.constantEnvelope) {
    title = "CCDF: constant envelope, PAPR < " + format("%.2f", waveform.edgeDb) + " dB";
  }
  labels(pls, "Power above mean power (dB)", "Samples above (%)", title, 5.4);
}

void drawEye(PlotStream& pls, const EyeTraces& eye, double symbolRateHz, const Box& box) {
  double peak = 1;
  for (std::size_t t = 0; t < eye.i.size(); ++t) {
    for (std::size_t p = 0; p < eye.time.size(); ++p) {
      peak = std::max({peak, std::fabs(eye.i[t][p]), std::fabs(eye.q[t][p])});
    }
  }
  const double range = niceCeiling(peak * 1.05);
  // Room between the I and Q frames for the numbers at their facing edges.
  const double gap = 0.07 * (box.y1 - box.y0);
  const double middle = (box.y0 + box.y1) / 2;
  const Box upper{box.x0, box.x1, middle + gap / 2, box.y1};
  const Box lower{box.x0, box.x1, box.y0, middle - gap / 2};
  const std::vector<PLFLT> time(eye.time.begin(), eye.time.end());

  frame(pls, upper, -1, 1, -range, range, "bcst", "bcnstv", range / 2);
  for (const auto& trace : eye.i) line(pls, time, trace, kBlueTrace, 1.0);
  pls.col0(kInk);
  pls.mtex("l", 5.0, 0.5, 0.5, "I (LSB)");
  const std::string title = eye.i.empty()
                                ? std::string("Eye diagram: too few symbols")
                                : "Eye diagram: " + countText(eye.i.size()) + " traces at " +
                                      hertz(symbolRateHz) + " symbol rate";
  pls.mtex("t", 1.4, 0.5, 0.5, title.c_str());

  frame(pls, lower, -1, 1, -range, range, "bcnst", "bcnstv", range / 2);
  for (const auto& trace : eye.q) line(pls, time, trace, kOrangeTrace, 1.0);
  pls.col0(kInk);
  pls.mtex("l", 5.0, 0.5, 0.5, "Q (LSB)");
  pls.mtex("b", 3.0, 0.5, 0.5, "Time (symbols from the instant)");
}

// A panel of kind in box.
void drawPanel(PlotStream& pls, PlotKind kind, const PlotFigures& figures, double clockHz,
               const PlotRequest& request, const Box& box, double textScale) {
  switch (kind) {
    case PlotKind::Spectrum:
      drawSpectrum(pls, figures.spectrum, clockHz, box);
      break;
    case PlotKind::Constellation:
      drawConstellation(pls, figures, box, textScale);
      break;
    case PlotKind::Time:
      drawTime(pls, figures.firstSamples, clockHz, box, textScale);
      break;
    case PlotKind::Ccdf:
      drawCcdf(pls, figures.ccdf, box, textScale);
      break;
    case PlotKind::Eye:
      drawEye(pls, figures.eye, *request.symbolRateHz, box);
      break;
    case PlotKind::All:
      break;
  }
}

void drawTitle(PlotStream& pls, const PlotRequest& request, double top, double textScale) {
  pls.vpor(0, 1, top, 1);
  pls.wind(0, 1, 0, 1);
  pls.col0(kInk);
  pls.schr(0, 1.35 * textScale);
  pls.ptex(0.5, request.subtitle.empty() ? 0.45 : 0.62, 1, 0, 0.5, request.title.c_str());
  if (!request.subtitle.empty()) {
    pls.schr(0, 1.0 * textScale);
    pls.ptex(0.5, 0.18, 1, 0, 0.5, request.subtitle.c_str());
  }
  pls.schr(0, textScale);
}

const char* deviceOf(PlotFormat format) {
  switch (format) {
    case PlotFormat::Png:
      return "pngcairo";
    case PlotFormat::Svg:
      return "svgcairo";
    case PlotFormat::Pdf:
      return "pdfcairo";
  }
  return "pngcairo";
}

// The output PLplot is writing, abandoned (nothing left behind) if PLplot ends the
// process on an error of its own.
OutputFile* gPlotInProgress = nullptr;

int onPlplotExit(const char*) {
  if (gPlotInProgress != nullptr) gPlotInProgress->abandon();
  return 4;  // the output status of the hosts
}

void draw(const PlotFigures& figures, double clockHz, const PlotRequest& request,
          const std::string& path, PlotFormat format) {
  PlotStream pls;
  pls.sexit(onPlplotExit);
  pls.sdev(deviceOf(format));
  pls.sfnam(path.c_str());
  pls.spage(0, 0, request.width, request.height, 0, 0);
  pls.spause(false);
  setPalette(pls);
  pls.init();
  pls.adv(0);
  // PLplot's characters follow the page size already; at 0.62 of its default
  // they fit the panels of the sheet.
  const double textScale = 0.62;
  gLineWidthScale = std::min(request.width / 1200.0, request.height / 900.0);
  pls.width(gLineWidthScale);
  pls.schr(0, textScale);
  // Numbers up to five digits stay numbers; no "x10^4" factor beside the axis.
  pls.sxax(6, 0);
  pls.syax(6, 0);
  pls.smaj(0, textScale);
  pls.smin(0, textScale);

  if (request.kind == PlotKind::All) {
    drawTitle(pls, request, 0.925, textScale);
    const Box topLeft{0.075, 0.465, 0.545, 0.865};
    const Box topRight{0.585, 0.975, 0.545, 0.865};
    const Box bottomLeft{0.075, 0.465, 0.075, 0.395};
    const Box bottomRight{0.585, 0.975, 0.075, 0.395};
    drawPanel(pls, PlotKind::Spectrum, figures, clockHz, request, topLeft, textScale);
    drawPanel(pls, PlotKind::Constellation, figures, clockHz, request, topRight, textScale);
    drawPanel(pls, request.eyeInSheet ? PlotKind::Eye : PlotKind::Time, figures, clockHz, request,
              bottomLeft, textScale);
    drawPanel(pls, PlotKind::Ccdf, figures, clockHz, request, bottomRight, textScale);
  } else {
    drawTitle(pls, request, 0.9, textScale);
    drawPanel(pls, request.kind, figures, clockHz, request, Box{0.1, 0.96, 0.1, 0.84}, textScale);
  }
}

}  // namespace

std::optional<PlotKind> plotKindNamed(const std::string& name) {
  for (const PlotKind kind : {PlotKind::All, PlotKind::Spectrum, PlotKind::Constellation,
                              PlotKind::Time, PlotKind::Ccdf, PlotKind::Eye}) {
    if (name == plotKindName(kind)) return kind;
  }
  return std::nullopt;
}

const char* plotKindName(PlotKind kind) {
  switch (kind) {
    case PlotKind::All:
      return "all";
    case PlotKind::Spectrum:
      return "spectrum";
    case PlotKind::Constellation:
      return "constellation";
    case PlotKind::Time:
      return "time";
    case PlotKind::Ccdf:
      return "ccdf";
    case PlotKind::Eye:
      return "eye";
  }
  return "all";
}

std::optional<PlotFormat> plotFormatOf(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return std::nullopt;
  std::string extension = path.substr(dot + 1);
  for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return PlotFormat::Png;
  if (extension == "svg") return PlotFormat::Svg;
  if (extension == "pdf") return PlotFormat::Pdf;
  return std::nullopt;
}

bool plotNeedsClock(PlotKind kind, bool withSymbolRate) {
  switch (kind) {
    case PlotKind::Ccdf:
      return false;
    case PlotKind::Constellation:
      return withSymbolRate;
    default:
      return true;
  }
}

void writePlot(const Waveform& waveform, const PlotRequest& request) {
  SpanPieces pieces(waveform.iq);
  writePlot(pieces, waveform.clockHz, request);
}

void writePlot(SamplePieces& pieces, std::optional<double> clockHz, const PlotRequest& request) {
  const std::optional<PlotFormat> format = plotFormatOf(request.output);
  if (!format) throw std::invalid_argument("the plot's name must end in .png, .svg or .pdf");
  if (request.width < kMinPlotSide || request.width > kMaxPlotSide ||
      request.height < kMinPlotSide || request.height > kMaxPlotSide) {
    throw std::invalid_argument("the plot size lies outside the bounds");
  }
  const bool eye =
      request.kind == PlotKind::Eye || (request.kind == PlotKind::All && request.eyeInSheet);
  if (eye && !(request.symbolRateHz && *request.symbolRateHz > 0)) {
    throw std::invalid_argument("the eye diagram needs the symbol rate");
  }
  if (plotNeedsClock(request.kind, request.symbolRateHz.has_value()) &&
      !(clockHz && *clockHz > 0)) {
    throw std::invalid_argument("this plot needs the waveform's clock");
  }
  const bool all = request.kind == PlotKind::All;
  PlotPanels panels;
  panels.spectrum = all || request.kind == PlotKind::Spectrum;
  panels.constellation = all || request.kind == PlotKind::Constellation;
  panels.time = (all && !request.eyeInSheet) || request.kind == PlotKind::Time;
  panels.ccdf = all || request.kind == PlotKind::Ccdf;
  panels.eye = eye;
  const double clock = clockHz.value_or(0);
  // The figures before the output exists: a read that fails leaves nothing behind.
  const PlotFigures figures = measurePlot(pieces, clock, request.symbolRateHz, panels);
  OutputFile file(request.output);
  gPlotInProgress = &file;
  draw(figures, clock, request, file.writePath(), *format);
  gPlotInProgress = nullptr;
  struct stat info {};
  if (::stat(file.writePath().c_str(), &info) != 0 ||
      (S_ISREG(info.st_mode) && info.st_size == 0)) {
    throw OutputError("cannot write " + request.output + ": the plotting library wrote nothing");
  }
  file.commit();
}

}  // namespace arbsuite::analysis
