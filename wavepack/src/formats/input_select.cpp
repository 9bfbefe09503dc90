// Choosing and running the readers of the command line (see input_select.h).
#include "input_select.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "arb_format.h"
#include "gnuradio_reader.h"
#include "input_stream.h"
#include "mat_reader.h"
#include "quantizer.h"
#include "raw_reader.h"
#include "sigmf_reader.h"
#include "wav_reader.h"

namespace arbsuite::wavepack {

namespace {

enum class Slot { dual, inPhase, quadrature };

const char* slotFlag(Slot slot) {
  switch (slot) {
    case Slot::dual:
      return "-d";
    case Slot::inPhase:
      return "-i";
    case Slot::quadrature:
      return "-q";
  }
  return "";
}

// How one file is read, decided before anything is opened.
struct Plan {
  InputKind kind = InputKind::csv;
  RawFormat raw;
  TailRule tail = TailRule::refuse;
  bool fromB = false;
  bool byName = false;  // the kind comes from the file's name
};

const char* kindName(InputKind kind) {
  switch (kind) {
    case InputKind::csv:
      return "CSV";
    case InputKind::raw:
      return "raw";
    case InputKind::sigmf:
      return "SigMF";
    case InputKind::mat:
      return "MATLAB";
    case InputKind::wav:
      return "WAV";
    case InputKind::gnuradio:
      return "GNU Radio metadata";
  }
  return "";
}

// The --format word of a kind that is not raw.
std::string formatWord(InputKind kind) {
  switch (kind) {
    case InputKind::sigmf:
      return "sigmf";
    case InputKind::mat:
      return "mat";
    case InputKind::wav:
      return "wav";
    case InputKind::gnuradio:
      return "gnuradio";
    default:
      return "csv";
  }
}

// `format` is the --format word as it is read (canonicalFormat); `options.format`
// the word as given, for the messages.
Plan planFor(const std::string& path, Slot slot, const InputOptions& files,
             const FormatOptions& options, const std::optional<std::string>& format,
             Diagnostics& diagnostics) {
  const bool dual = slot == Slot::dual;
  const bool standardInput = path == kStandardInputName;
  Plan plan;
  if (files.binary) {
    // -b: 64-bit little-endian doubles, exactly as it always read them.
    const char* doubles = dual ? "cf64_le" : "rf64_le";
    if (format && *format != doubles)
      throw std::invalid_argument(std::string("-b reads ") + doubles +
                                  " and cannot be combined with --format " + *options.format);
    plan.kind = InputKind::raw;
    plan.raw = rawFormatByName(doubles);
    plan.tail = TailRule::ignore;
    plan.fromB = true;
    std::string named;
    const InputKind byName = standardInput ? InputKind::csv : kindFromName(path, named);
    if (!standardInput && (byName != InputKind::csv || lowerExtension(path) == ".csv")) {
      const std::string word = byName == InputKind::raw ? named : formatWord(byName);
      diagnostics.warn(path + " is read as 64-bit doubles (-b), but its name says " + word +
                       ": give --format " + word + " instead of -b to read it as that");
    }
  } else if (format) {
    const std::string& f = *format;
    if (f == "csv") {
      plan.kind = InputKind::csv;
    } else if (f == "sigmf") {
      plan.kind = InputKind::sigmf;
    } else if (f == "mat") {
      plan.kind = InputKind::mat;
    } else if (f == "wav") {
      plan.kind = InputKind::wav;
    } else if (f == "gnuradio") {
      plan.kind = InputKind::gnuradio;
    } else {
      if (!looksLikeRawFormat(f))
        throw std::invalid_argument("Unknown format '" + *options.format +
                                    "': --format takes csv, sigmf, mat, wav or a raw "
                                    "datatype such as cf32_le");
      plan.kind = InputKind::raw;
      plan.raw = rawFormatByName(f);
    }
  } else if (!standardInput) {
    std::string named;
    plan.kind = kindFromName(path, named);
    plan.byName = true;
    if (plan.kind == InputKind::raw) plan.raw = rawFormatByName(named);
  }

  if (plan.kind == InputKind::raw && plan.raw.complex != dual) {
    if (dual)
      throw std::invalid_argument(plan.raw.name + " is a real format: -d takes complex formats (" +
                                  withComplex(plan.raw, true).name +
                                  "); separate I and Q files are given with -i and -q");
    throw std::invalid_argument(std::string(slotFlag(slot)) + " takes real formats (" +
                                withComplex(plan.raw, false).name + "); " + path + " is read as " +
                                plan.raw.name + ", complex: give it with -d");
  }
  if (plan.kind != InputKind::csv && plan.kind != InputKind::raw) {
    if (!dual && plan.kind != InputKind::gnuradio)
      throw std::invalid_argument(path + " is a " + kindName(plan.kind) +
                                  " recording of I and Q: give it with -d");
    if (standardInput)
      throw std::invalid_argument("Standard input is read as CSV or as a raw --format, not " +
                                  std::string(kindName(plan.kind)));
  }
  return plan;
}

// Parses a 1-based field number.
int fieldNumber(const std::string& text, std::size_t& at) {
  std::size_t end = at;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  if (end == at || end - at > 6) return 0;
  const int n = std::atoi(text.substr(at, end - at).c_str());
  at = end;
  return n;
}

CsvOptions csvOptions(const FormatOptions& options, Slot slot) {
  CsvOptions csv;
  if (options.delimiter) {
    const std::string& d = *options.delimiter;
    if (d == ",") {
      csv.dialect.delimiter = ',';
    } else if (d == ";") {
      csv.dialect.delimiter = ';';
    } else if (d == "tab" || d == "\t") {
      csv.dialect.delimiter = '\t';
    } else if (d == "space" || d == " ") {
      csv.dialect.delimiter = ' ';
    } else {
      throw std::invalid_argument("--delimiter takes , ; tab or space, not '" + d + "'");
    }
  }
  if (options.decimalComma) {
    if (csv.dialect.delimiter == ',')
      throw std::invalid_argument(
          "--decimal-comma needs a delimiter other than ',' (for example --delimiter ';')");
    csv.dialect.decimalComma = true;
  }
  const bool dual = slot == Slot::dual;
  if (options.columns) {
    const std::string& text = *options.columns;
    std::size_t at = 0;
    const int first = fieldNumber(text, at);
    int second = 0;
    bool ok = first > 0;
    if (dual) {
      ok = ok && at < text.size() && text[at] == ',';
      ++at;
      second = ok ? fieldNumber(text, at) : 0;
      ok = ok && second > 0 && second != first && at == text.size();
      if (!ok)
        throw std::invalid_argument(
            "--columns takes the field numbers of I and Q (from 1) for -d, for example 2,3, "
            "not '" +
            text + "'");
    } else if (!ok || at != text.size()) {
      throw std::invalid_argument(
          "--columns takes one field number (from 1) for -i and -q files, not '" + text + "'");
    }
    csv.fieldsChosen = true;
    csv.fieldI = dual ? first : (slot == Slot::inPhase ? first : 0);
    csv.fieldQ = dual ? second : (slot == Slot::quadrature ? first : 0);
  } else {
    csv.fieldI = dual || slot == Slot::inPhase ? 1 : 0;
    csv.fieldQ = dual ? 2 : (slot == Slot::quadrature ? 1 : 0);
  }
  return csv;
}

std::string csvDescription(const CsvOptions& csv, bool dual) {
  std::string details;
  auto add = [&](const std::string& part) { details += (details.empty() ? "" : ", ") + part; };
  switch (csv.dialect.delimiter) {
    case ';':
      add("delimiter ';'");
      break;
    case '\t':
      add("delimiter tab");
      break;
    case ' ':
      add("delimiter space");
      break;
    default:
      break;
  }
  if (csv.dialect.decimalComma) add("decimal comma");
  if (csv.fieldsChosen) {
    if (dual)
      add("fields " + std::to_string(csv.fieldI) + "," + std::to_string(csv.fieldQ));
    else
      add("field " + std::to_string(csv.fieldI > 0 ? csv.fieldI : csv.fieldQ));
  }
  return details.empty() ? "CSV" : "CSV (" + details + ")";
}

RawRole rawRole(Slot slot) {
  return slot == Slot::dual      ? RawRole::iq
         : slot == Slot::inPhase ? RawRole::inPhase
                                 : RawRole::quadrature;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the file starts with a GNU Radio header; a file that cannot be read is
// left to its reader, which names the failure in the order the inputs are read.
bool holdsGnuRadioHeader(const std::string& path) {
  try {
    InputStream input(path);
    return startsWithGnuRadioHeader(input);
  } catch (const std::exception&) {
    return false;
  }
}

// A file that its name would have read as CSV or raw samples but that is GNU
// Radio metadata: inline headers at its start, or a detached header beside it.
void recogniseGnuRadio(const std::string& path, Plan& plan, Diagnostics& diagnostics) {
  if (path == kStandardInputName || plan.fromB) return;
  if (plan.kind != InputKind::csv && plan.kind != InputKind::raw) return;
  if (plan.byName) {
    if (isRegularFile(path + std::string(kGnuRadioHeaderExtension)) || holdsGnuRadioHeader(path))
      plan.kind = InputKind::gnuradio;
  } else if (plan.kind == InputKind::raw && holdsGnuRadioHeader(path)) {
    diagnostics.warn(path + " starts with a GNU Radio metadata header, which --format " +
                     plan.raw.name + " reads as samples (--format gnuradio reads the header)");
  }
}

InputData readOne(const std::string& path, Slot slot, const Plan& plan,
                  const FormatOptions& options, Diagnostics& diagnostics) {
  InputData data;
  switch (plan.kind) {
    case InputKind::csv: {
      const CsvOptions csv = csvOptions(options, slot);
      InputStream input(path);
      data.pairs = std::make_unique<MemoryPairs>(readCsv(input, csv, diagnostics));
      data.formatName = csvDescription(csv, slot == Slot::dual);
      data.csv = true;
      return data;
    }
    case InputKind::raw: {
      data.pairs = openRaw(path, plan.raw, rawRole(slot), plan.tail, diagnostics);
      data.formatName = plan.raw.name + (plan.fromB ? " (-b)" : "");
      return data;
    }
    case InputKind::sigmf:
      return readSigmf(path, diagnostics);
    case InputKind::mat: {
      InputData data = readMat(path, options.variable, diagnostics);
      if (!data.sampleRate)
        data.missingRate = path +
                           " gives no sample rate (a real scalar fs, Fs, FS, SampleRate or "
                           "sample_rate)";
      return data;
    }
    case InputKind::wav:
      return readWav(path, diagnostics);
    case InputKind::gnuradio:
      return readGnuRadio(path, rawRole(slot), diagnostics);
  }
  throw std::logic_error("unknown input kind");
}

std::string rateText(double hz) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", hz);
  return text;
}

// A clock the instrument plays, as -f is checked: the rate truncated to whole hertz.
bool playable(double hz) { return std::isfinite(hz) && arb::isPlayableClock(std::trunc(hz)); }

}  // namespace

InputKind kindFromName(const std::string& path, std::string& raw) {
  const std::string extension = lowerExtension(path);
  if (extension == ".sigmf-meta" || extension == ".sigmf-data" ||
      extension == kSigmfArchiveExtension)
    return InputKind::sigmf;
  if (extension == kGnuRadioHeaderExtension) return InputKind::gnuradio;
  if (extension == ".mat") return InputKind::mat;
  if (extension == ".wav") return InputKind::wav;
  if (extension == ".cf32" || extension == ".cfile" || extension == ".fc32") {
    raw = "cf32_le";
    return InputKind::raw;
  }
  if (extension == ".ci16" || extension == ".cs16" || extension == ".sc16") {
    raw = "ci16_le";
    return InputKind::raw;
  }
  if (extension == ".cu8") {
    raw = "cu8";
    return InputKind::raw;
  }
  return InputKind::csv;
}

std::string canonicalFormat(const std::string& text, Diagnostics& diagnostics) {
  std::string word = text;
  std::transform(word.begin(), word.end(), word.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // The raw names the file-name rule knows, read as the extensions are.
  struct Alias {
    const char* name;
    const char* datatype;
    const char* bigEndian;  // the name of the other byte order, when the alias lacks one
  };
  constexpr Alias kAliases[] = {{"cf32", "cf32_le", "cf32_be"}, {"cfile", "cf32_le", nullptr},
                                {"fc32", "cf32_le", nullptr},   {"ci16", "ci16_le", "ci16_be"},
                                {"cs16", "ci16_le", nullptr},   {"sc16", "ci16_le", nullptr}};
  for (const Alias& alias : kAliases) {
    if (word != alias.name) continue;
    diagnostics.note("--format " + text + " is read as " + alias.datatype + ", little-endian" +
                     (alias.bigEndian != nullptr
                          ? std::string(" (") + alias.bigEndian + " reads big-endian samples)"
                          : std::string()));
    return alias.datatype;
  }
  return word;
}

double peakLevel(const std::optional<std::string>& text) {
  if (!text) return kPeakLevel;
  const char* begin = text->c_str();
  char* end = nullptr;
  const double level = std::strtod(begin, &end);
  if (end == begin || *end != '\0' || !(level > 0.0 && level <= 1.0))
    throw std::invalid_argument("--level must be a number greater than 0 and at most 1, not '" +
                                *text + "'");
  return level;
}

InputData readInputs(const InputOptions& files, const FormatOptions& options,
                     Diagnostics& diagnostics) {
  struct Input {
    std::string path;
    Slot slot;
    Plan plan;
  };
  std::vector<Input> inputs;
  if (files.dual) inputs.push_back({*files.dual, Slot::dual, {}});
  if (files.inPhase) inputs.push_back({*files.inPhase, Slot::inPhase, {}});
  if (files.quadrature) inputs.push_back({*files.quadrature, Slot::quadrature, {}});
  // Every rule is checked before the first file is opened.
  std::optional<std::string> format;
  if (options.format) format = canonicalFormat(*options.format, diagnostics);
  bool anyCsv = false;
  bool anyMat = false;
  int standardInputs = 0;
  for (Input& input : inputs) {
    input.plan = planFor(input.path, input.slot, files, options, format, diagnostics);
    anyCsv = anyCsv || input.plan.kind == InputKind::csv;
    anyMat = anyMat || input.plan.kind == InputKind::mat;
    standardInputs += input.path == kStandardInputName ? 1 : 0;
    if (input.plan.kind == InputKind::csv) (void)csvOptions(options, input.slot);
  }
  if (standardInputs > 1) throw std::invalid_argument("Standard input (-) can be read once only");
  if (!anyCsv && (options.columns || options.delimiter || options.decimalComma))
    throw std::invalid_argument("--columns, --delimiter and --decimal-comma apply to CSV input");
  if (!anyMat && options.variable)
    throw std::invalid_argument("--variable applies to MATLAB (.mat) input");

  // Then the files named like CSV or raw samples that are GNU Radio metadata.
  anyCsv = false;
  for (Input& input : inputs) {
    recogniseGnuRadio(input.path, input.plan, diagnostics);
    anyCsv = anyCsv || input.plan.kind == InputKind::csv;
  }
  if (!anyCsv && (options.columns || options.delimiter || options.decimalComma))
    throw std::invalid_argument("--columns, --delimiter and --decimal-comma apply to CSV input");

  if (inputs.size() == 1)
    return readOne(inputs[0].path, inputs[0].slot, inputs[0].plan, options, diagnostics);
  InputData i = readOne(inputs[0].path, inputs[0].slot, inputs[0].plan, options, diagnostics);
  InputData q = readOne(inputs[1].path, inputs[1].slot, inputs[1].plan, options, diagnostics);
  if (i.pairs->size() != q.pairs->size())
    throw std::length_error("Data length is not equal in " + inputs[0].path + " and " +
                            inputs[1].path);
  InputData merged;
  merged.formatName = i.formatName == q.formatName
                          ? i.formatName + ", I and Q files"
                          : i.formatName + " (I), " + q.formatName + " (Q)";
  merged.csv = i.csv && q.csv;
  if (i.sampleRate && q.sampleRate && *i.sampleRate != *q.sampleRate) {
    throw std::runtime_error(
        "The sample rates of the I and Q files differ: " + rateText(*i.sampleRate) + " Hz in " +
        i.rateSource + ", " + rateText(*q.sampleRate) + " Hz in " + q.rateSource);
  }
  const InputData& rated = i.sampleRate ? i : q;
  merged.sampleRate = rated.sampleRate;
  merged.rateSource = rated.rateSource;
  merged.pairs = std::make_unique<MergedPairs>(std::move(i.pairs), std::move(q.pairs));
  return merged;
}

std::int32_t chooseClock(bool fsGiven, std::int32_t fs, const InputData& input,
                         Diagnostics& diagnostics) {
  if (fsGiven) return fs;
  if (!input.sampleRate) {
    if (!input.missingRate.empty())
      diagnostics.warn(input.missingRate + ": the clock is the default, " + std::to_string(fs) +
                       " Hz (-f chooses it)");
    return fs;
  }
  const double hz = *input.sampleRate;
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", hz);
  if (!playable(hz))
    throw std::out_of_range("The sample rate of " + input.rateSource + ", " + text +
                            " Hz, is not a clock the instrument plays: Fs must in range "
                            "[1KHz,50MHz] and 100MHz (give -f to choose the clock)");
  const auto clock = static_cast<std::int32_t>(hz);
  if (clock != hz)
    diagnostics.warn("the sample rate of " + input.rateSource + ", " + text +
                     " Hz, is written as the clock " + std::to_string(clock) + " Hz");
  return clock;
}

}  // namespace arbsuite::wavepack
