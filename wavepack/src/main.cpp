// wavepack: converts IQ data (CSV, raw binary, SigMF, MATLAB, WAV) into an encrypted
// .arb waveform file.
#include <tclap/CmdLine.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "convert.h"
#include "diagnostics.h"
#include "formats/input_select.h"
#include "help_text.h"
#include "interrupt_cleanup.h"
#include "prepare.h"
#include "progress_report.h"
#include "standard_output.h"
#include "summary.h"

namespace {

constexpr const char* kVersionText = "1.3.1.150320";
constexpr const char* kCopyrightLine = "Copyright (c) 2026 arbsuite developers";

// Prints the copyright lines when -c is seen and ends the program.
class CopyrightVisitor : public TCLAP::Visitor {
 public:
  void visit() override {
    std::cout << kCopyrightLine << '\n'
              << "This program  using Templatized C++ Command Line Parser "
                 "(TCLAP, http://tclap.sourceforge.net), MIT License."
              << std::endl;
    std::exit(EXIT_SUCCESS);
  }
};

// TCLAP's usage followed by the formats, units and examples.
class HelpOutput : public TCLAP::StdOutput {
 public:
  void usage(TCLAP::CmdLineInterface& c) override {
    TCLAP::StdOutput::usage(c);
    std::cout << arbsuite::wavepack::kHelpText << std::flush;
  }
};

int run(int argc, char** argv) {
  TCLAP::CmdLine cmd(
      "Converts IQ data (CSV, raw binary, SigMF, MATLAB, WAV) into an encrypted .arb waveform file",
      ' ', kVersionText);
  // Not owned by the command line; lives until the end of the run.
  const auto copyrightVisitor = std::make_unique<CopyrightVisitor>();
  TCLAP::SwitchArg copyright("c", "copyright", "copyright information", false,
                             copyrightVisitor.get());
  TCLAP::SwitchArg binary("b", "binary", "binary format file support", false);
  TCLAP::ValueArg<std::string> fs(
      "f", "fs",
      "frequency of sample,default value is 50MHz.Input support format like \"1MHz\" or "
      "\"1m\" or \"1000000\" or \"1e6\" ",
      false, "50MHz", "int");
  TCLAP::ValueArg<std::string> output("o", "output",
                                      "output .arb file name ,must contain extension \".arb\" ",
                                      true, "", "filename");
  TCLAP::ValueArg<std::string> quadrature("q", "quadrature", "quadrature components", false, "",
                                          "filename");
  TCLAP::ValueArg<std::string> inPhase("i", "in-phase", "in-phase components", false, "",
                                       "filename");
  TCLAP::ValueArg<std::string> dual("d", "dual", "in-phase and quadrature components", false, "",
                                    "filename");
  cmd.add(copyright);
  cmd.add(binary);
  cmd.add(fs);
  cmd.add(output);
  cmd.add(quadrature);
  cmd.add(inPhase);
  cmd.add(dual);
  TCLAP::ValueArg<std::string> format(
      "", "format",
      "input format: csv, sigmf, mat, wav or a raw datatype such as cf32_le (see below); "
      "default: from the file name",
      false, "", "FMT");
  TCLAP::ValueArg<std::string> columns(
      "", "columns", "CSV fields (from 1) of I and Q for -d, or the one field of -i/-q files",
      false, "", "I,Q");
  TCLAP::ValueArg<std::string> delimiter(
      "", "delimiter", "CSV field delimiter: , (default), ;, tab or space", false, "", "D");
  TCLAP::SwitchArg decimalComma("", "decimal-comma", "CSV numbers have a decimal comma");
  TCLAP::ValueArg<std::string> variable("", "variable",
                                        "the IQ variable of a .mat file, or I,Q: two real vectors",
                                        false, "", "NAME");
  TCLAP::ValueArg<std::string> level(
      "", "level", "peak level as a fraction of full scale, 0 < X <= 1 (default 0.81)", false, "",
      "X");
  TCLAP::SwitchArg strict("", "strict", "treat every warning as an error");
  TCLAP::ValueArg<std::string> resample(
      "", "resample",
      "resample the data to this clock by the Fourier method (e.g. 100MHz), or auto; not with -f",
      false, "", "CLOCK");
  TCLAP::ValueArg<std::string> inputRate(
      "", "input-rate", "the data's sample rate for --resample (default: the file's own)", false,
      "", "FREQ");
  TCLAP::ValueArg<std::string> repeat(
      "", "repeat", "for --resample: the input repeated K times first (a whole resampled length)",
      false, "", "K");
  TCLAP::ValueArg<std::string> shift(
      "", "shift", "shift the data in frequency by FREQ at the clock (may be negative)", false, "",
      "FREQ");
  TCLAP::ValueArg<std::string> papr(
      "", "papr", "crest-factor reduction to this peak-to-average power ratio in dB", false, "",
      "DB");
  TCLAP::ValueArg<std::string> cfrBand(
      "", "cfr-band",
      "for --papr: the band kept, e.g. -5MHz:5MHz (default: the 99 % occupied band)", false, "",
      "LOW:HIGH");
  TCLAP::ValueArg<std::string> taper(
      "", "taper", "raised-cosine ramps of TIME at the start and the end (e.g. 10us)", false, "",
      "TIME");
  cmd.add(format);
  cmd.add(columns);
  cmd.add(delimiter);
  cmd.add(decimalComma);
  cmd.add(variable);
  cmd.add(level);
  cmd.add(strict);
  cmd.add(resample);
  cmd.add(inputRate);
  cmd.add(repeat);
  cmd.add(shift);
  cmd.add(papr);
  cmd.add(cfrBand);
  cmd.add(taper);
  HelpOutput helpOutput;
  cmd.setOutput(&helpOutput);
  cmd.parse(argc, argv);  // help, version, copyright and parser errors end the process here

  const std::string outputPath = output.getValue();
  arbsuite::wavepack::checkOutputName(outputPath);
  const std::int32_t sampleRate = arbsuite::wavepack::sampleFrequency(fs.getValue());

  arbsuite::wavepack::InputOptions inputs;
  inputs.binary = binary.getValue();
  if (dual.isSet()) inputs.dual = dual.getValue();
  if (inPhase.isSet()) inputs.inPhase = inPhase.getValue();
  if (quadrature.isSet()) inputs.quadrature = quadrature.getValue();
  arbsuite::wavepack::checkInputOptions(inputs);
  arbsuite::wavepack::checkOutputIsNoInput(outputPath, inputs);

  arbsuite::wavepack::FormatOptions formats;
  if (format.isSet()) formats.format = format.getValue();
  if (columns.isSet()) formats.columns = columns.getValue();
  if (delimiter.isSet()) formats.delimiter = delimiter.getValue();
  formats.decimalComma = decimalComma.getValue();
  if (variable.isSet()) formats.variable = variable.getValue();
  if (level.isSet()) formats.level = level.getValue();
  const double peakLevel = arbsuite::wavepack::peakLevel(formats.level);

  arbsuite::wavepack::PrepareOptions prepare;
  if (resample.isSet()) prepare.resample = resample.getValue();
  if (inputRate.isSet()) prepare.inputRate = inputRate.getValue();
  if (repeat.isSet()) prepare.repeat = repeat.getValue();
  if (shift.isSet()) prepare.shift = shift.getValue();
  if (papr.isSet()) prepare.papr = papr.getValue();
  if (cfrBand.isSet()) prepare.cfrBand = cfrBand.getValue();
  if (taper.isSet()) prepare.taper = taper.getValue();
  const arbsuite::wavepack::PrepareSteps steps =
      arbsuite::wavepack::checkPrepareOptions(prepare, fs.isSet());

  arbsuite::wavepack::Diagnostics diagnostics(strict.getValue(), &std::cerr);
  arbsuite::wavepack::InputData input =
      arbsuite::wavepack::readInputs(inputs, formats, diagnostics);
  // Resampled data are written at the resample clock; otherwise the clock is -f or
  // the file's own rate, and the steps that follow work at it.
  double dataRate = 0;
  std::int32_t clock = 0;
  if (steps.resample) {
    dataRate = arbsuite::wavepack::resampleInputRate(steps, input, diagnostics);
    clock = arbsuite::wavepack::resampleClock(steps, dataRate, diagnostics);
  } else {
    clock = arbsuite::wavepack::chooseClock(fs.isSet(), sampleRate, input, diagnostics);
  }
  // Without the steps the pairs stream from the reader to the quantiser untouched.
  if (steps.any())
    input.pairs = arbsuite::wavepack::prepareWaveform(std::move(input.pairs), steps, dataRate,
                                                      clock, diagnostics);
  const arbsuite::wavepack::SampleStatistics stats =
      arbsuite::wavepack::convertToArb(*input.pairs, clock, outputPath, peakLevel);

  // The first line stays what scripts look for; the summary follows it.
  std::cout << (input.csv ? "Successfully converts the CSV format file to "
                          : "Successfully converts the binary format file to ")
            << outputPath << '\n'
            << arbsuite::wavepack::summaryLine(stats, clock, input.formatName)
            << '\n';  // flushed, and checked, at exit
  return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupt removes the temporary sample file and any named temporary of the
  // output; a standard output that cannot be written ends the run with status 4.
  arbsuite::arb::installInterruptCleanup();
  arbsuite::arb::checkStandardOutputAtExit("PROGRAM ERROR: ");
  // The usage text is fixed, so the progress report is asked for in the environment.
  arbsuite::arb::setProgressMode(arbsuite::arb::progressModeFromEnvironment());
  // A failed conversion ends with status 1 so that scripts can tell it from success.
  try {
    return run(argc, argv);
  } catch (const TCLAP::ArgException& e) {
    std::cerr << "Command line parse error: " << e.error() << " for arg " << e.argId() << std::endl;
  } catch (const std::exception& e) {
    std::cerr << "PROGRAM ERROR: " << e.what() << std::endl;
  }
  return EXIT_FAILURE;
}
