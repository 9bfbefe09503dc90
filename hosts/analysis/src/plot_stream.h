// A PLplot stream over PLplot's C interface, with the library loaded by name when the
// first plot is drawn: linked, PLplot and the ten libraries behind it (freetype, qhull,
// libpng and more) were mapped at every start of arbtool and iqsynth, a join or a dump
// too. The member functions are those of PLplot's own C++ stream class that the plots
// use, with the same arguments, so the drawing code reads as PLplot's documentation
// does.
#pragma once

#include <plplot.h>

namespace arbsuite::analysis {

class PlotStream {
 public:
  // A new stream, made the current one (loads PLplot at the first). Throws
  // std::runtime_error when PLplot cannot be loaded.
  PlotStream();
  // Ends the stream (PLplot writes and closes its output) and PLplot with it.
  ~PlotStream();
  PlotStream(const PlotStream&) = delete;
  PlotStream& operator=(const PlotStream&) = delete;

  // What PLplot calls, in place of ending the process, on an error of its own.
  void sexit(int (*handler)(const char* message));

  void sdev(const char* device);
  void sfnam(const char* fileName);
  void spage(PLFLT xp, PLFLT yp, PLINT xleng, PLINT yleng, PLINT xoff, PLINT yoff);
  void spause(bool pause);
  void init();
  void adv(PLINT page);

  void scmap0n(PLINT colours);
  void scol0(PLINT index, PLINT r, PLINT g, PLINT b);
  void scol0a(PLINT index, PLINT r, PLINT g, PLINT b, PLFLT alpha);
  // Colour map 1 by piecewise-linear RGB (rgb true) or HLS control points.
  void scmap1l(bool rgb, PLINT points, const PLFLT* intensity, const PLFLT* coord1,
               const PLFLT* coord2, const PLFLT* coord3);
  void col0(PLINT index);

  void vpor(PLFLT xmin, PLFLT xmax, PLFLT ymin, PLFLT ymax);
  void vpas(PLFLT xmin, PLFLT xmax, PLFLT ymin, PLFLT ymax, PLFLT aspect);
  void wind(PLFLT xmin, PLFLT xmax, PLFLT ymin, PLFLT ymax);
  void box(const char* xopt, PLFLT xtick, PLINT nxsub, const char* yopt, PLFLT ytick, PLINT nysub);
  void slabelfunc(PLLABEL_FUNC_callback label, PLPointer data);
  void sxax(PLINT digmax, PLINT digits);
  void syax(PLINT digmax, PLINT digits);
  void smaj(PLFLT def, PLFLT scale);
  void smin(PLFLT def, PLFLT scale);

  void width(PLFLT width);
  void lsty(PLINT style);
  void line(PLINT n, const PLFLT* x, const PLFLT* y);
  void string(PLINT n, const PLFLT* x, const PLFLT* y, const char* glyph);
  void imagefr(const PLFLT* const* data, PLINT nx, PLINT ny, PLFLT xmin, PLFLT xmax, PLFLT ymin,
               PLFLT ymax, PLFLT zmin, PLFLT zmax, PLFLT valuemin, PLFLT valuemax,
               PLTRANSFORM_callback transform, PLPointer transformData);

  void schr(PLFLT def, PLFLT scale);
  void mtex(const char* side, PLFLT disp, PLFLT pos, PLFLT just, const char* text);
  void ptex(PLFLT x, PLFLT y, PLFLT dx, PLFLT dy, PLFLT just, const char* text);
  void legend(PLFLT* legendWidth, PLFLT* legendHeight, PLINT opt, PLINT position, PLFLT x, PLFLT y,
              PLFLT plotWidth, PLINT bgColour, PLINT bbColour, PLINT bbStyle, PLINT nrow,
              PLINT ncolumn, PLINT nlegend, const PLINT* optArray, PLFLT textOffset,
              PLFLT textScale, PLFLT textSpacing, PLFLT textJustification, const PLINT* textColours,
              const char* const* text, const PLINT* boxColours, const PLINT* boxPatterns,
              const PLFLT* boxScales, const PLFLT* boxLineWidths, const PLINT* lineColours,
              const PLINT* lineStyles, const PLFLT* lineWidths, const PLINT* symbolColours,
              const PLFLT* symbolScales, const PLINT* symbolNumbers, const char* const* symbols);

 private:
  PLINT stream_ = 0;
};

}  // namespace arbsuite::analysis
