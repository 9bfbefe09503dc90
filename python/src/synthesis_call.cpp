// arbsuite.synth: keyword arguments become the options of the iqsynth command line
// (symbol_rate=1e6 is --symbol-rate=1e6), which the program's settings parser
// checks; the synthesis run the program shares (core) runs them through libiqsynth,
// loaded on the first call like the program loads it: no run log unless log= names
// one, nothing on standard output.
#include "synthesis_call.h"

#include <dlfcn.h>
#include <pybind11/numpy.h>

#include <cmath>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "interpreter_lock.h"
#include "iq_synthesis.h"
#include "iqsynth_settings.h"
#include "module_errors.h"
#include "synthesis_library.h"
#include "synthesised_waveform.h"

#ifndef ARBSUITE_MODULE_LIBDIRS
#define ARBSUITE_MODULE_LIBDIRS "../.."
#endif

namespace py = pybind11;

namespace arbsuite::python {
namespace {

// Options of the program that are no settings of a run whose samples come back:
// its outputs, and its switches of help, version and library output.
constexpr const char* kNotSettings[] = {"output", "csv", "plot", "verbose", "help", "version"};

// The run log the library opened when it loaded ("" for none); the library reads
// its environment only then. Guarded by the run lock of synthesiseArguments.
std::optional<std::string> loadedLog;

// libiqsynth.so beside the module: the folders its RUNPATH names, relative to the
// module's own folder (ARBSUITE_MODULE_LIBDIRS, separated by colons), for when a
// preloaded runtime hides that RUNPATH from dlopen.
iqsynth_host::LibraryCandidates besideTheModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&besideTheModule), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  const std::filesystem::path folder = std::filesystem::path(info.dli_fname).parent_path();
  iqsynth_host::LibraryCandidates candidates;
  std::string folders = ARBSUITE_MODULE_LIBDIRS;
  std::size_t at = 0;
  while (at <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', at), folders.size());
    candidates.push_back(folder / folders.substr(at, end - at) / iqsynth_host::kLibraryName);
    at = end + 1;
  }
  return candidates;
}

std::string numberText(const py::handle& value) {
  const py::module_ numbers = py::module_::import("numbers");
  const auto object = py::reinterpret_borrow<py::object>(value);
  if (py::isinstance(value, numbers.attr("Integral"))) return py::str(py::int_(object));
  // repr of a float gives the shortest text that reads back as the same double.
  return py::repr(py::float_(object));
}

// The text of one value as the command line takes it.
std::string valueText(const std::string& name, const py::handle& value) {
  const py::module_ numbers = py::module_::import("numbers");
  if (py::isinstance<py::bool_>(value)) {
    throw py::type_error(name + " takes a value, not True or False");
  }
  if (py::isinstance<py::str>(value)) return value.cast<std::string>();
  if (py::isinstance<py::bytes>(value) || py::hasattr(value, "__fspath__")) {
    return pathArgument(value, name.c_str());
  }
  if (py::isinstance(value, numbers.attr("Real"))) return numberText(value);
  if (py::isinstance(value, numbers.attr("Complex"))) {
    throw py::type_error(name + " takes real numbers, not complex ones");
  }
  if (py::isinstance<py::sequence>(value) || py::hasattr(value, "tolist")) {
    // Lists: levels=[0, -3], switches=[1, 0, 1], phases=[0, 1.57], ramp=[(0, 0), (100, -20)].
    const py::list items = py::hasattr(value, "tolist")
                               ? py::list(value.attr("tolist")())
                               : py::list(py::reinterpret_borrow<py::object>(value));
    std::string text;
    for (const py::handle item : items) {
      if (!text.empty()) text += ',';
      if (py::isinstance<py::tuple>(item) || py::isinstance<py::list>(item)) {
        const py::sequence row = py::reinterpret_borrow<py::sequence>(item);
        if (row.size() != 2) throw py::value_error(name + ": a row must be a pair such as (0, -3)");
        text += numberText(row[0]) + ':' + numberText(row[1]);
      } else if (py::isinstance(item, numbers.attr("Real")) && !py::isinstance<py::bool_>(item)) {
        text += numberText(item);
      } else if (py::isinstance<py::bool_>(item)) {
        text += item.cast<bool>() ? "1" : "0";
      } else {
        throw py::type_error(
            name + ": the list holds " +
            py::str(py::type::handle_of(item).attr("__name__")).cast<std::string>() +
            ", not numbers");
      }
    }
    return text;
  }
  throw py::type_error(name + " takes a str, a number or a list of numbers, not " +
                       py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>());
}

// The command-line arguments of the keyword arguments; complex is the module's own.
std::vector<std::string> settingArguments(const py::kwargs& settings) {
  const std::vector<iqsynth_host::OptionName> options = iqsynth_host::optionNames();
  std::vector<std::string> args;
  for (const auto& [key, value] : settings) {
    const std::string keyword = py::str(key);
    if (keyword == "complex") continue;
    std::string name = keyword;
    for (char& c : name) c = c == '_' ? '-' : c;
    for (const char* excluded : kNotSettings) {
      if (name == excluded) {
        throw py::type_error("synth() takes no " + keyword +
                             "=: it returns the samples (arbsuite.write makes an .arb file)");
      }
    }
    const auto option =
        std::find_if(options.begin(), options.end(), [&](const auto& o) { return o.name == name; });
    if (option == options.end() || keyword.find('-') != std::string::npos) {
      throw py::type_error("synth() got an unexpected keyword argument '" + keyword + "'");
    }
    if (option->flag) {
      if (!py::isinstance<py::bool_>(value)) throw py::type_error(keyword + " takes True or False");
      if (value.cast<bool>()) args.push_back("--" + name);
      continue;
    }
    if (value.is_none()) continue;  // the program's default
    args.push_back("--" + name + "=" + valueText(keyword, value));
  }
  return args;
}

// What one run made, gathered without the interpreter lock.
struct Run {
  iqsynth_host::Options options;
  iqsynth_host::SynthesisResult result;
  iqsynth_host::Statistics statistics;
  std::string log;  // the run log the library writes to ("" for none)
};

py::dict summary(const Run& run) {
  const iqsynth_host::Options& o = run.options;
  const iqsynth_host::SynthesisResult& r = run.result;
  const iqsynth_host::Statistics& s = run.statistics;
  py::dict info;
  info["samples"] = s.samples;
  info["clock_hz"] = r.wave.sampleRate;
  info["peak"] = s.peak;
  info["rms"] = s.rms;
  info["crest_factor_db"] = iqsynth_host::crestFactorDb(s);
  info["energy"] = s.energy;
  if (o.mode == IQSYNTH_WORKING_MODE_DIGITAL) {
    info["filter_taps"] =
        o.filterType == IQSYNTH_FILTER_USER ? static_cast<int>(o.taps.size()) : r.filterTaps;
  }
  if (r.noise.present) {
    const iqsynth_host::NoiseLevels& n = r.noise;
    const auto decibels = [](double value) {
      return std::isfinite(value) ? py::object(py::float_(value)) : py::none();
    };
    py::dict noise;
    noise["bandwidth_hz"] = n.noiseBandwidth;
    noise["system_bandwidth_hz"] = r.systemBandwidth;
    noise["level_system_db"] = decibels(n.noiseLevelSystem);
    noise["level_total_db"] = decibels(n.noiseLevelTotal);
    if (n.added) {
      noise["carrier_db"] = decibels(n.carrierLevel);
      noise["signal_db"] = decibels(n.signalLevel);
      noise["peak_db"] = decibels(n.peakLevel);
    }
    info["noise"] = noise;
  }
  info["seed"] = *o.seed;
  info["log"] = run.log.empty() ? py::none() : py::object(py::str(run.log));
  return info;
}

// One run from the command-line arguments of the settings: parsed and checked by the
// program's parser, the input files read, the library configured and run. Touches no
// Python object (it runs without the interpreter lock); throws value_error for what
// the program refuses and LibraryFailure for what the library or its loading fails.
Run synthesiseArguments(const std::vector<std::string>& arguments,
                        const iqsynth_host::LibraryCandidates& candidates) {
  // One run at a time: the library keeps its configuration in one global record,
  // and loadedLog is this lock's. The library's environment is set under it as well
  // (setenv shares the C library's environment lock with os.environ's putenv).
  static std::mutex runLock;
  const std::lock_guard<std::mutex> hold(runLock);

  Run run;
  iqsynth_host::Options& o = run.options;
  try {
    o = iqsynth_host::parseSettings(arguments);
    iqsynth_host::loadInputFiles(o);
  } catch (const iqsynth_host::UsageError& e) {
    throw py::value_error(e.what());
  } catch (const iqsynth_host::InputError& e) {
    throw py::value_error(e.what());
  }
  if (!o.logPath.empty()) o.logPath = std::filesystem::absolute(o.logPath).string();
  if (loadedLog && o.given.count("log") != 0 && o.logPath != *loadedLog) {
    throw py::value_error(
        "log: libiqsynth chose its run log when it loaded, at this process's first synth call (" +
        (loadedLog->empty() ? std::string("no log") : *loadedLog) +
        "); every later run goes there");
  }
  if (!o.seed) o.seed = iqsynth_host::drawSeed();
  // Notes the log the library opened when this run loaded it, also when the run fails.
  struct NoteLoadedLog {
    const std::string& log;
    ~NoteLoadedLog() {
      if (!loadedLog && iqsynth_host::synthesisLibraryLoaded()) loadedLog = log;
    }
  } noteLoadedLog{o.logPath};
  try {
    run.result = iqsynth_host::synthesise(o, candidates);
  } catch (const iqsynth_host::SynthesisError& e) {
    if (e.status == 0) throw py::value_error(e.what());
    throw LibraryFailure(e.what(), e.status);
  } catch (const iqsynth_host::LibraryError& e) {
    throw LibraryFailure(e.what(), std::nullopt);
  } catch (const iqsynth_host::OutputError& e) {
    throw LibraryFailure(e.what(), std::nullopt);
  }
  if (!loadedLog) loadedLog = o.logPath;
  run.log = *loadedLog;
  run.statistics = iqsynth_host::measure(run.result.wave);
  return run;
}

}  // namespace

py::tuple synthesiseSettings(const py::kwargs& settings) {
  bool asComplex = false;
  if (settings.contains("complex")) {
    if (!py::isinstance<py::bool_>(settings["complex"]))
      throw py::type_error("complex takes True or False");
    asComplex = settings["complex"].cast<bool>();
  }
  // The keywords become plain strings before the interpreter lock is let go: the
  // run, and the wait for another thread's run, happen without it.
  const std::vector<std::string> arguments = settingArguments(settings);
  const iqsynth_host::LibraryCandidates candidates = besideTheModule();
  std::vector<std::int16_t> interleaved;
  const Run run = withoutInterpreterLock([&] {
    Run made = synthesiseArguments(arguments, candidates);
    const iqsynth_host::Waveform& wave = made.result.wave;
    interleaved.resize(2 * wave.i.size());
    for (std::size_t k = 0; k < wave.i.size(); ++k) {
      interleaved[2 * k] = wave.i[k];
      interleaved[2 * k + 1] = wave.q[k];
    }
    return made;
  });
  return py::make_tuple(sampleArray(interleaved, asComplex), summary(run));
}

}  // namespace arbsuite::python
