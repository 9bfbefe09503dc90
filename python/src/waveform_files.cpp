// read, write, stats and join: the internal library's reading and joining (over
// seqlink), its quantiser and packer, and the hosts' analysis,
// with numpy arrays and dicts at the Python side. Nothing but the outputs asked for
// is written: no sample or configuration file stands between the steps.
#include "waveform_files.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "arb_file_pieces.h"
#include "arb_format.h"
#include "arb_join.h"
#include "arb_pack.h"
#include "arb_read.h"
#include "arguments.h"
#include "interpreter_lock.h"
#include "module_errors.h"
#include "pair_packer.h"
#include "pair_source.h"
#include "quantizer.h"
#include "seqlink_stream.h"
#include "stats.h"
#include "stats_report.h"
#include "streamed_stats.h"
#include "text_output.h"
#include "waveform_header.h"

namespace py = pybind11;

namespace arbsuite::python {
namespace {

// Runs one of the internal library's reading or joining steps, turning its failures into the
// module's exceptions: a usage fault is a bad argument, the rest arbsuite.Error.
template <typename Step>
auto fileStep(Step step) {
  try {
    return step();
  } catch (const Failure& failure) {
    if (failure.exitStatus == kExitUsage) throw py::value_error(failure.message);
    throw LibraryFailure(failure.message, failure.libraryStatus != 0
                                              ? std::optional<int>(failure.libraryStatus)
                                              : std::nullopt);
  } catch (const analysis::HeaderError& error) {
    throw LibraryFailure(error.what(), std::nullopt);
  }
}

std::string stripped(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A number of the text header; None when the item is missing or not a number.
py::object headerNumber(const std::vector<HeaderItem>& items, const std::string& key,
                        bool lastField = false) {
  for (const auto& item : items) {
    if (item.key != key) continue;
    std::string text = stripped(item.value);
    if (lastField) text = text.substr(text.rfind(',') + 1);
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') return py::none();
    return py::float_(value);
  }
  return py::none();
}

py::object jsonToPython(const nlohmann::ordered_json& value) {
  switch (value.type()) {
    case nlohmann::ordered_json::value_t::object: {
      py::dict dict;
      for (const auto& [key, item] : value.items()) dict[py::str(key)] = jsonToPython(item);
      return dict;
    }
    case nlohmann::ordered_json::value_t::array: {
      py::list list;
      for (const auto& item : value) list.append(jsonToPython(item));
      return list;
    }
    case nlohmann::ordered_json::value_t::string:
      return py::str(value.get<std::string>());
    case nlohmann::ordered_json::value_t::boolean:
      return py::bool_(value.get<bool>());
    case nlohmann::ordered_json::value_t::number_integer:
      return py::int_(value.get<long long>());
    case nlohmann::ordered_json::value_t::number_unsigned:
      return py::int_(value.get<unsigned long long>());
    case nlohmann::ordered_json::value_t::number_float:
      return py::float_(value.get<double>());
    default:
      return py::none();
  }
}

// A level or clock mode word of join, as arbtool spells it.
std::string modeWord(const std::string& word, const char* what,
                     std::string (*spell)(const std::string&)) {
  try {
    return spell(word);
  } catch (const ConfigError&) {
    throw py::value_error(
        std::string(what) + " '" + word + "' is not one of " +
        (std::string(what) == "level" ? "'unchanged', 'rms'" : "'unchanged', 'highest', 'user'"));
  }
}

// One segment of join: a path, or ("blank", count, clock_hz) with clock_hz None
// for the clock of the nearest file segment.
SegmentSource segmentSource(const py::handle& item, std::size_t index) {
  const std::string what = "segments[" + std::to_string(index) + "]";
  if (!py::isinstance<py::tuple>(item) && !py::isinstance<py::list>(item)) {
    return {pathArgument(item, what.c_str()), std::nullopt};
  }
  const py::sequence blank = py::reinterpret_borrow<py::sequence>(item);
  if (blank.size() != 3 || !py::isinstance<py::str>(blank[0]) ||
      blank[0].cast<std::string>() != "blank") {
    throw py::value_error(what + " must be a path or (\"blank\", count, clock_hz)");
  }
  const py::object count = blank[1];
  if (py::isinstance<py::bool_>(count) ||
      !py::isinstance(count, py::module_::import("numbers").attr("Integral"))) {
    throw py::type_error(what + ": the count of a blank must be an int");
  }
  const long long samples = count.cast<long long>();
  if (samples < 1 || samples > std::numeric_limits<int>::max()) {
    throw py::value_error(what + ": the count of a blank must lie in 1 to 2147483647");
  }
  BlankSegment blankSegment{static_cast<int>(samples), std::nullopt};
  if (!blank[2].is_none()) {
    const double clock = realArgument(blank[2], (what + " clock_hz").c_str());
    if (!arb::isPlayableClock(clock)) {
      throw py::value_error(what + ": the clock " + std::to_string(clock) +
                            " Hz is not one the instrument plays: " + arb::kPlayableClockText);
    }
    blankSegment.clock = clock;
  }
  return {kBlankName, blankSegment};
}

py::dict segmentDict(const std::string& name, double clock, long long samples, py::object energy) {
  py::dict segment;
  segment["name"] = name;
  segment["clock_hz"] = clock;
  segment["samples"] = samples;
  segment["energy"] = std::move(energy);
  return segment;
}

}  // namespace

py::tuple readFile(const py::object& pathValue, bool asComplex) {
  const std::string path = pathArgument(pathValue, "path");
  // The crypto library loaded once for the call, not once for every piece.
  const seqlink::CryptoLibraryHold cryptoLibrary;
  // The file's description and segment table are read and its header checked
  // without the interpreter lock; the arrays and dicts are made with it, and the
  // samples decrypted into the array a piece at a time, again without it.
  struct Read {
    ArbContent content;
    std::vector<HeaderItem> items;
    analysis::Waveform waveform;
    std::unique_ptr<ArbFilePieces> pieces;
  };
  Read read = withoutInterpreterLock([&] {
    Read r;
    r.content = fileStep([&] { return describedContent(path); });
    r.items = headerItems(r.content.displayText);
    if (r.content.multiSegment)
      r.waveform = fileStep([&] { return analysis::waveformLayoutOf(r.content); });
    r.pieces = fileStep([&] { return std::make_unique<ArbFilePieces>(r.content); });
    return r;
  });
  const ArbContent& content = read.content;
  const std::vector<HeaderItem>& items = read.items;
  py::dict header;
  for (const auto& item : items) header[py::str(item.key)] = stripped(item.value);
  py::dict info;
  info["samples"] = content.count;
  info["energy"] = headerNumber(items, "Value");
  if (content.multiSegment) {
    const analysis::Waveform& waveform = read.waveform;
    info["clock_hz"] = waveform.clockHz ? py::object(py::float_(*waveform.clockHz)) : py::none();
    py::list segments;
    for (std::size_t k = 0; k < waveform.segments.size(); ++k) {
      const analysis::Segment& s = waveform.segments[k];
      py::dict segment = segmentDict(s.name, s.clockHz, static_cast<long long>(s.count),
                                     headerNumber(items, "SEGMENT_" + std::to_string(k), true));
      segment["start"] = s.start;
      segments.append(segment);
    }
    info["segments"] = segments;
  } else {
    info["clock_hz"] = content.clockHz;
  }
  info["header"] = header;
  py::array samples = fileStep([&] { return sampleArray(*read.pieces, asComplex); });
  return py::make_tuple(std::move(samples), info);
}

void writeFile(const py::object& pathValue, const py::object& iq, const py::object& clockHz,
               const py::object& levelValue) {
  const std::string path = pathArgument(pathValue, "path");
  try {
    arbsuite::checkOutputName(path);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  }
  const std::int32_t clock = playableClock(clockHz, "clock_hz");
  const double level = realArgument(levelValue, "level");
  if (!(level > 0 && level <= 1)) {
    throw py::value_error(
        "level must lie above 0, up to 1 (the peak modulus as a fraction of "
        "full scale)");
  }
  const std::vector<arbsuite::IqPair> pairs = iqPairs(iq);
  withoutInterpreterLock([&] {
    // The packer's data-key draw keeps its generator in process-wide state: writes
    // from several threads take turns.
    static std::mutex packerLock;
    const std::lock_guard<std::mutex> hold(packerLock);
    arbsuite::PairSpan source(pairs);
    // Quantised and packed in memory: no sample file is made.
    const std::int32_t status = arbsuite::packPairs(source, clock, path.c_str(), level);
    if (status != arbsuite::kPackOk) {
      throw LibraryFailure(path + ": " + arbsuite::packStatusWords(status) + " (status " +
                               std::to_string(status) + ")",
                           status);
    }
  });
}

namespace {

bool isPathLike(const py::handle& value) {
  return py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
         py::hasattr(value, "__fspath__");
}

// The figures of the waveform that write(path, iq, clock_hz) would make: the pairs
// normalised and quantised as the packer does, measured as arbtool stats measures a file.
nlohmann::ordered_json arrayStats(const py::object& iq, const py::object& clockValue) {
  if (clockValue.is_none()) throw py::type_error("stats of an array needs clock_hz");
  const double clock = realArgument(clockValue, "clock_hz");
  if (!(clock > 0)) throw py::value_error("clock_hz must be a positive number of hertz");
  const std::vector<arbsuite::IqPair> pairs = iqPairs(iq);
  return withoutInterpreterLock([&] {
    arbsuite::PairSpan source(pairs);
    const arbsuite::PeakScale peak = arbsuite::findPeak(source);
    std::vector<std::int16_t> samples;
    samples.reserve(2 * pairs.size());
    arbsuite::quantizeSource(source, peak, arbsuite::kPeakLevel,
                             [&](std::span<const std::int16_t> block) {
                               samples.insert(samples.end(), block.begin(), block.end());
                             });
    analysis::Waveform waveform;
    waveform.iq = samples;
    waveform.clockHz = clock;
    return analysis::statsJson(analysis::measureWaveform(waveform));
  });
}

}  // namespace

py::dict fileStats(const py::object& pathValue, const py::object& clockValue) {
  if (!isPathLike(pathValue)) return jsonToPython(arrayStats(pathValue, clockValue));
  if (!clockValue.is_none())
    throw py::value_error("clock_hz is for arrays: a file gives its own clock");
  const std::string path = pathArgument(pathValue, "path");
  const seqlink::CryptoLibraryHold cryptoLibrary;  // one load for the call's pieces
  // Measured from the file's pieces, as arbtool stats measures it: bounded memory
  // whatever the file's size.
  const nlohmann::ordered_json figures = withoutInterpreterLock([&] {
    const ArbContent described = fileStep([&] { return describedContent(path); });
    const analysis::Waveform layout =
        fileStep([&] { return analysis::waveformLayoutOf(described); });
    return fileStep([&] {
      ArbFilePieces pieces(described);
      return analysis::statsJson(
          analysis::measureWaveform(pieces, layout.clockHz, layout.segments));
    });
  });
  return jsonToPython(figures);
}

py::dict joinFiles(const py::object& outPath, const py::object& segments, const std::string& level,
                   const std::string& clock, const py::object& userClockHz,
                   const py::object& config) {
  const seqlink::CryptoLibraryHold cryptoLibrary;  // one load for the call's pieces
  JoinPlan plan;
  plan.output = pathArgument(outPath, "out_path");
  plan.levelMode = modeWord(level, "level", levelModeWord);
  plan.clockMode = modeWord(clock, "clock", clockModeWord);
  if (plan.clockMode == "USER") {
    if (userClockHz.is_none()) throw py::value_error("clock='user' needs user_clock_hz");
    plan.userClock = realArgument(userClockHz, "user_clock_hz");
    if (!arb::isPlayableClock(plan.userClock)) {
      throw py::value_error("user_clock_hz " + std::to_string(plan.userClock) +
                            " Hz is not a clock the instrument plays: " + arb::kPlayableClockText);
    }
  } else if (!userClockHz.is_none()) {
    throw py::value_error("user_clock_hz is used with clock='user' only");
  }
  if (py::isinstance<py::str>(segments) || py::isinstance<py::bytes>(segments) ||
      !py::isinstance<py::sequence>(segments)) {
    throw py::type_error("segments must be a list of paths and (\"blank\", count, clock_hz)");
  }
  std::vector<SegmentSource> sources;
  const py::sequence list = py::reinterpret_borrow<py::sequence>(segments);
  for (std::size_t k = 0; k < list.size(); ++k) sources.push_back(segmentSource(list[k], k));
  if (sources.empty()) throw py::value_error("segments is empty");
  const std::string configPath = config.is_none() ? std::string() : pathArgument(config, "config");

  const JoinResult result = withoutInterpreterLock([&] {
    fileStep([&] {
      planSegments(plan, sources);
      checkJoinPlan(plan, configPath);
    });
    std::string line;
    try {
      line = formatConfigLine(plan);
    } catch (const ConfigError& e) {
      throw py::value_error(std::string("join: ") + e.what());
    }
    // The configuration is written only where the caller asks for it; the join
    // runs from the plan in memory either way.
    if (!configPath.empty()) {
      arbsuite::cli::TextOutput out;
      if (!out.open(configPath) || !out.write(line) || !out.commit()) {
        throw LibraryFailure(
            "cannot write the configuration " + configPath + ": " + out.errorText(), std::nullopt);
      }
    }
    return fileStep([&] { return joinPlanned(plan, configPath); });
  });
  py::list joined;
  for (const auto& segment : result.segments) {
    joined.append(
        segmentDict(segment.name, segment.clock, segment.samples, py::float_(segment.energy)));
  }
  py::dict info;
  info["output"] = result.output;
  info["samples"] = result.totalSamples;
  info["segments"] = joined;
  return info;
}

}  // namespace arbsuite::python
