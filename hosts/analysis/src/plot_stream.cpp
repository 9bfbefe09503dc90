// PlotStream: PLplot's C interface through the functions of the library loaded by name.
#include "plot_stream.h"

#include "loaded_library.h"

namespace arbsuite::analysis {
namespace {

// PLplot's functions, looked up by their C names (c_plcol0 and so on; plplot.h maps the
// documented names onto them). Loaded once for the process and kept: PLplot keeps its
// drivers and fonts between plots.
struct Plplot {
  Plplot()
      : library(ARBSUITE_PLPLOT_SONAME, "draws the plots"),
        mkstrm(library.function<decltype(&c_plmkstrm)>("c_plmkstrm")),
        sstrm(library.function<decltype(&c_plsstrm)>("c_plsstrm")),
        end1(library.function<decltype(&c_plend1)>("c_plend1")),
        end(library.function<decltype(&c_plend)>("c_plend")),
        sdev(library.function<decltype(&c_plsdev)>("c_plsdev")),
        sfnam(library.function<decltype(&c_plsfnam)>("c_plsfnam")),
        spage(library.function<decltype(&c_plspage)>("c_plspage")),
        spause(library.function<decltype(&c_plspause)>("c_plspause")),
        init(library.function<decltype(&c_plinit)>("c_plinit")),
        adv(library.function<decltype(&c_pladv)>("c_pladv")),
        scmap0n(library.function<decltype(&c_plscmap0n)>("c_plscmap0n")),
        scol0(library.function<decltype(&c_plscol0)>("c_plscol0")),
        scol0a(library.function<decltype(&c_plscol0a)>("c_plscol0a")),
        scmap1l(library.function<decltype(&c_plscmap1l)>("c_plscmap1l")),
        col0(library.function<decltype(&c_plcol0)>("c_plcol0")),
        vpor(library.function<decltype(&c_plvpor)>("c_plvpor")),
        vpas(library.function<decltype(&c_plvpas)>("c_plvpas")),
        wind(library.function<decltype(&c_plwind)>("c_plwind")),
        box(library.function<decltype(&c_plbox)>("c_plbox")),
        slabelfunc(library.function<decltype(&c_plslabelfunc)>("c_plslabelfunc")),
        sxax(library.function<decltype(&c_plsxax)>("c_plsxax")),
        syax(library.function<decltype(&c_plsyax)>("c_plsyax")),
        smaj(library.function<decltype(&c_plsmaj)>("c_plsmaj")),
        smin(library.function<decltype(&c_plsmin)>("c_plsmin")),
        width(library.function<decltype(&c_plwidth)>("c_plwidth")),
        lsty(library.function<decltype(&c_pllsty)>("c_pllsty")),
        line(library.function<decltype(&c_plline)>("c_plline")),
        string(library.function<decltype(&c_plstring)>("c_plstring")),
        imagefr(library.function<decltype(&c_plimagefr)>("c_plimagefr")),
        schr(library.function<decltype(&c_plschr)>("c_plschr")),
        mtex(library.function<decltype(&c_plmtex)>("c_plmtex")),
        ptex(library.function<decltype(&c_plptex)>("c_plptex")),
        legend(library.function<decltype(&c_pllegend)>("c_pllegend")),
        sexit(library.function<decltype(&plsexit)>("plsexit")) {}
  arb::LoadedLibrary library;
  decltype(&c_plmkstrm) mkstrm;
  decltype(&c_plsstrm) sstrm;
  decltype(&c_plend1) end1;
  decltype(&c_plend) end;
  decltype(&c_plsdev) sdev;
  decltype(&c_plsfnam) sfnam;
  decltype(&c_plspage) spage;
  decltype(&c_plspause) spause;
  decltype(&c_plinit) init;
  decltype(&c_pladv) adv;
  decltype(&c_plscmap0n) scmap0n;
  decltype(&c_plscol0) scol0;
  decltype(&c_plscol0a) scol0a;
  decltype(&c_plscmap1l) scmap1l;
  decltype(&c_plcol0) col0;
  decltype(&c_plvpor) vpor;
  decltype(&c_plvpas) vpas;
  decltype(&c_plwind) wind;
  decltype(&c_plbox) box;
  decltype(&c_plslabelfunc) slabelfunc;
  decltype(&c_plsxax) sxax;
  decltype(&c_plsyax) syax;
  decltype(&c_plsmaj) smaj;
  decltype(&c_plsmin) smin;
  decltype(&c_plwidth) width;
  decltype(&c_pllsty) lsty;
  decltype(&c_plline) line;
  decltype(&c_plstring) string;
  decltype(&c_plimagefr) imagefr;
  decltype(&c_plschr) schr;
  decltype(&c_plmtex) mtex;
  decltype(&c_plptex) ptex;
  decltype(&c_pllegend) legend;
  decltype(&plsexit) sexit;
};

const Plplot& plplot() {
  static const Plplot functions;
  return functions;
}

}  // namespace

// One stream at a time is drawn (PLplot's state is process-wide): the new stream is the
// current one until it ends.
PlotStream::PlotStream() { plplot().mkstrm(&stream_); }

PlotStream::~PlotStream() {
  plplot().sstrm(stream_);
  plplot().end1();
  plplot().end();
}

void PlotStream::sexit(int (*handler)(const char*)) { plplot().sexit(handler); }
void PlotStream::sdev(const char* device) { plplot().sdev(device); }
void PlotStream::sfnam(const char* fileName) { plplot().sfnam(fileName); }
void PlotStream::spage(PLFLT xp, PLFLT yp, PLINT xleng, PLINT yleng, PLINT xoff, PLINT yoff) {
  plplot().spage(xp, yp, xleng, yleng, xoff, yoff);
}
void PlotStream::spause(bool pause) { plplot().spause(pause ? 1 : 0); }
void PlotStream::init() { plplot().init(); }
void PlotStream::adv(PLINT page) { plplot().adv(page); }

void PlotStream::scmap0n(PLINT colours) { plplot().scmap0n(colours); }
void PlotStream::scol0(PLINT index, PLINT r, PLINT g, PLINT b) { plplot().scol0(index, r, g, b); }
void PlotStream::scol0a(PLINT index, PLINT r, PLINT g, PLINT b, PLFLT alpha) {
  plplot().scol0a(index, r, g, b, alpha);
}
void PlotStream::scmap1l(bool rgb, PLINT points, const PLFLT* intensity, const PLFLT* coord1,
                         const PLFLT* coord2, const PLFLT* coord3) {
  plplot().scmap1l(rgb ? 1 : 0, points, intensity, coord1, coord2, coord3, nullptr);
}
void PlotStream::col0(PLINT index) { plplot().col0(index); }

void PlotStream::vpor(PLFLT xmin, PLFLT xmax, PLFLT ymin, PLFLT ymax) {
  plplot().vpor(xmin, xmax, ymin, ymax);
}
void PlotStream::vpas(PLFLT xmin, PLFLT xmax, PLFLT ymin, PLFLT ymax, PLFLT aspect) {
  plplot().vpas(xmin, xmax, ymin, ymax, aspect);
}
void PlotStream::wind(PLFLT xmin, PLFLT xmax, PLFLT ymin, PLFLT ymax) {
  plplot().wind(xmin, xmax, ymin, ymax);
}
void PlotStream::box(const char* xopt, PLFLT xtick, PLINT nxsub, const char* yopt, PLFLT ytick,
                     PLINT nysub) {
  plplot().box(xopt, xtick, nxsub, yopt, ytick, nysub);
}
void PlotStream::slabelfunc(PLLABEL_FUNC_callback label, PLPointer data) {
  plplot().slabelfunc(label, data);
}
void PlotStream::sxax(PLINT digmax, PLINT digits) { plplot().sxax(digmax, digits); }
void PlotStream::syax(PLINT digmax, PLINT digits) { plplot().syax(digmax, digits); }
void PlotStream::smaj(PLFLT def, PLFLT scale) { plplot().smaj(def, scale); }
void PlotStream::smin(PLFLT def, PLFLT scale) { plplot().smin(def, scale); }

void PlotStream::width(PLFLT width) { plplot().width(width); }
void PlotStream::lsty(PLINT style) { plplot().lsty(style); }
void PlotStream::line(PLINT n, const PLFLT* x, const PLFLT* y) { plplot().line(n, x, y); }
void PlotStream::string(PLINT n, const PLFLT* x, const PLFLT* y, const char* glyph) {
  plplot().string(n, x, y, glyph);
}
void PlotStream::imagefr(const PLFLT* const* data, PLINT nx, PLINT ny, PLFLT xmin, PLFLT xmax,
                         PLFLT ymin, PLFLT ymax, PLFLT zmin, PLFLT zmax, PLFLT valuemin,
                         PLFLT valuemax, PLTRANSFORM_callback transform, PLPointer transformData) {
  plplot().imagefr(data, nx, ny, xmin, xmax, ymin, ymax, zmin, zmax, valuemin, valuemax, transform,
                   transformData);
}

void PlotStream::schr(PLFLT def, PLFLT scale) { plplot().schr(def, scale); }
void PlotStream::mtex(const char* side, PLFLT disp, PLFLT pos, PLFLT just, const char* text) {
  plplot().mtex(side, disp, pos, just, text);
}
void PlotStream::ptex(PLFLT x, PLFLT y, PLFLT dx, PLFLT dy, PLFLT just, const char* text) {
  plplot().ptex(x, y, dx, dy, just, text);
}
void PlotStream::legend(PLFLT* legendWidth, PLFLT* legendHeight, PLINT opt, PLINT position, PLFLT x,
                        PLFLT y, PLFLT plotWidth, PLINT bgColour, PLINT bbColour, PLINT bbStyle,
                        PLINT nrow, PLINT ncolumn, PLINT nlegend, const PLINT* optArray,
                        PLFLT textOffset, PLFLT textScale, PLFLT textSpacing,
                        PLFLT textJustification, const PLINT* textColours, const char* const* text,
                        const PLINT* boxColours, const PLINT* boxPatterns, const PLFLT* boxScales,
                        const PLFLT* boxLineWidths, const PLINT* lineColours,
                        const PLINT* lineStyles, const PLFLT* lineWidths,
                        const PLINT* symbolColours, const PLFLT* symbolScales,
                        const PLINT* symbolNumbers, const char* const* symbols) {
  plplot().legend(legendWidth, legendHeight, opt, position, x, y, plotWidth, bgColour, bbColour,
                  bbStyle, nrow, ncolumn, nlegend, optArray, textOffset, textScale, textSpacing,
                  textJustification, textColours, text, boxColours, boxPatterns, boxScales,
                  boxLineWidths, lineColours, lineStyles, lineWidths, symbolColours, symbolScales,
                  symbolNumbers, symbols);
}

}  // namespace arbsuite::analysis
