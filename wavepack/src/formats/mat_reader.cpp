// MATLAB .mat files through libmatio (see mat_reader.h). The file is opened and
// checked as a regular file first; matio then reads it through /proc/self/fd, so it
// reads the very file that was checked and never blocks on a FIFO.
#include "mat_reader.h"

#include <matio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "input_stream.h"
#include "loaded_library.h"
#include "mat_v5_layout.h"

namespace arbsuite::wavepack {

namespace {

using arb::LoadedLibrary;

// libmatio's functions, loaded with the library at the first MATLAB file.
struct Matio {
  Matio()
      : library(ARBSUITE_MATIO_SONAME, "reads MATLAB files"),
        open(library.function<decltype(&Mat_Open)>("Mat_Open")),
        close(library.function<decltype(&Mat_Close)>("Mat_Close")),
        getVersion(library.function<decltype(&Mat_GetVersion)>("Mat_GetVersion")),
        logInitFunc(library.function<decltype(&Mat_LogInitFunc)>("Mat_LogInitFunc")),
        rewind(library.function<decltype(&Mat_Rewind)>("Mat_Rewind")),
        varReadNextInfo(library.function<decltype(&Mat_VarReadNextInfo)>("Mat_VarReadNextInfo")),
        varRead(library.function<decltype(&Mat_VarRead)>("Mat_VarRead")),
        varFree(library.function<decltype(&Mat_VarFree)>("Mat_VarFree")) {}
  LoadedLibrary library;
  decltype(&Mat_Open) open;
  decltype(&Mat_Close) close;
  decltype(&Mat_GetVersion) getVersion;
  decltype(&Mat_LogInitFunc) logInitFunc;
  decltype(&Mat_Rewind) rewind;
  decltype(&Mat_VarReadNextInfo) varReadNextInfo;
  decltype(&Mat_VarRead) varRead;
  decltype(&Mat_VarFree) varFree;
};

const Matio& matio() {
  static const Matio functions;
  return functions;
}

struct MatCloser {
  void operator()(mat_t* mat) const { matio().close(mat); }
};
struct VarFreer {
  void operator()(matvar_t* var) const { matio().varFree(var); }
};
using MatFile = std::unique_ptr<mat_t, MatCloser>;
using MatVar = std::unique_ptr<matvar_t, VarFreer>;

constexpr std::array<std::string_view, 5> kRateNames = {"fs", "Fs", "FS", "SampleRate",
                                                        "sample_rate"};

// matio reports through a log function; its last error message explains a failure.
std::string& lastMatioMessage() {
  static std::string message;
  return message;
}

void keepMatioMessage(int level, char* message) {
  if ((level & (MATIO_LOG_LEVEL_ERROR | MATIO_LOG_LEVEL_CRITICAL)) != 0 && message != nullptr)
    lastMatioMessage() = message;
}

// matio's last message, naming the file by the user's path rather than the
// /proc/self/fd path it was given.
std::string matioMessage(const std::string& procPath, const std::string& path) {
  std::string message = lastMatioMessage();
  for (std::size_t at = message.find(procPath); at != std::string::npos;
       at = message.find(procPath, at + path.size()))
    message.replace(at, procPath.size(), path);
  return message.empty() ? "" : ": " + message;
}

bool isNumericClass(matio_classes c) {
  return c == MAT_C_DOUBLE || c == MAT_C_SINGLE || (c >= MAT_C_INT8 && c <= MAT_C_UINT64);
}

const char* className(matio_classes c) {
  switch (c) {
    case MAT_C_DOUBLE:
      return "double";
    case MAT_C_SINGLE:
      return "single";
    case MAT_C_INT8:
      return "int8";
    case MAT_C_UINT8:
      return "uint8";
    case MAT_C_INT16:
      return "int16";
    case MAT_C_UINT16:
      return "uint16";
    case MAT_C_INT32:
      return "int32";
    case MAT_C_UINT32:
      return "uint32";
    case MAT_C_INT64:
      return "int64";
    case MAT_C_UINT64:
      return "uint64";
    case MAT_C_CHAR:
      return "char";
    case MAT_C_CELL:
      return "cell";
    case MAT_C_STRUCT:
      return "struct";
    case MAT_C_SPARSE:
      return "sparse";
    default:
      return "other";
  }
}

// What the variable listing keeps of each variable.
struct VarInfo {
  std::string name;
  matio_classes type = MAT_C_EMPTY;
  bool complex = false;
  bool logical = false;
  std::vector<std::size_t> dims;

  std::uint64_t elements() const {
    std::uint64_t n = dims.empty() ? 0 : 1;
    for (std::size_t d : dims) n = d != 0 && n > UINT64_MAX / d ? UINT64_MAX : n * d;
    return n;
  }
  bool floating() const { return !logical && (type == MAT_C_DOUBLE || type == MAT_C_SINGLE); }
  bool complexVector() const {
    return floating() && complex && dims.size() == 2 && (dims[0] == 1 || dims[1] == 1) &&
           elements() > 0;
  }
  bool realTwoColumns() const {
    return floating() && !complex && dims.size() == 2 && dims[1] == 2 && dims[0] > 0;
  }
  bool iqShaped() const { return complexVector() || realTwoColumns(); }
  // A real row or column: one of the two that --variable I,Q pairs.
  bool realVector() const {
    return floating() && !complex && dims.size() == 2 && (dims[0] == 1 || dims[1] == 1) &&
           elements() > 0;
  }
  std::uint64_t pairs() const { return complexVector() ? elements() : dims[0]; }
  bool rateShaped() const {
    return !logical && isNumericClass(type) && !complex && elements() == 1;
  }
  std::string shape() const {
    std::string s;
    for (std::size_t k = 0; k < dims.size(); ++k) s += (k ? "x" : "") + std::to_string(dims[k]);
    return s + (complex ? " complex " : " ") + className(type);
  }
};

std::vector<VarInfo> listVariables(mat_t* mat) {
  std::vector<VarInfo> vars;
  matio().rewind(mat);
  for (;;) {
    const MatVar var(matio().varReadNextInfo(mat));
    if (!var) break;
    VarInfo info;
    info.name = var->name != nullptr ? var->name : "";
    info.type = var->class_type;
    info.complex = var->isComplex != 0;
    info.logical = var->isLogical != 0;
    if (var->dims != nullptr)
      for (int k = 0; k < var->rank; ++k) info.dims.push_back(var->dims[k]);
    vars.push_back(std::move(info));
  }
  return vars;
}

std::string nameList(const std::vector<const VarInfo*>& vars) {
  std::string s;
  for (const VarInfo* v : vars) s += (s.empty() ? "" : ", ") + v->name + " (" + v->shape() + ")";
  return s.empty() ? "none" : s;
}

template <typename T>
double elementAt(const void* data, std::size_t k) {
  return static_cast<double>(static_cast<const T*>(data)[k]);
}

// Element k of numeric data of a class as a double.
double numericAt(matio_classes type, const void* data, std::size_t k) {
  switch (type) {
    case MAT_C_DOUBLE:
      return elementAt<double>(data, k);
    case MAT_C_SINGLE:
      return elementAt<float>(data, k);
    case MAT_C_INT8:
      return elementAt<std::int8_t>(data, k);
    case MAT_C_UINT8:
      return elementAt<std::uint8_t>(data, k);
    case MAT_C_INT16:
      return elementAt<std::int16_t>(data, k);
    case MAT_C_UINT16:
      return elementAt<std::uint16_t>(data, k);
    case MAT_C_INT32:
      return elementAt<std::int32_t>(data, k);
    case MAT_C_UINT32:
      return elementAt<std::uint32_t>(data, k);
    case MAT_C_INT64:
      return elementAt<std::int64_t>(data, k);
    case MAT_C_UINT64:
      return elementAt<std::uint64_t>(data, k);
    default:
      throw std::logic_error("not a numeric class");
  }
}

template <typename T>
void copyPairs(const T* re, const T* im, std::vector<IqPair>& pairs) {
  for (std::size_t k = 0; k < pairs.size(); ++k) pairs[k] = {re[k], im[k]};
}

MatVar readVariable(mat_t* mat, const std::string& name, const std::string& procPath,
                    const std::string& path) {
  matio().rewind(mat);
  lastMatioMessage().clear();
  MatVar var(matio().varRead(mat, name.c_str()));
  if (!var || var->data == nullptr)
    throw std::runtime_error("Read of variable " + name + " in " + path + " failed" +
                             matioMessage(procPath, path));
  return var;
}

// The variable the listing found, read and checked to be the one listed: libmatio reads the
// first variable of the name, and with two of one name that may be another shape than the
// one chosen, its data another layout.
MatVar readListedVariable(mat_t* mat, const VarInfo& info, const std::string& procPath,
                          const std::string& path) {
  MatVar var = readVariable(mat, info.name, procPath, path);
  bool sameShape = var->rank == static_cast<int>(info.dims.size()) &&
                   (var->isComplex != 0) == info.complex && var->dims != nullptr;
  for (std::size_t k = 0; sameShape && k < info.dims.size(); ++k)
    sameShape = var->dims[k] == info.dims[k];
  if (!sameShape)
    throw std::runtime_error(path + " holds more than one variable named " + info.name +
                             ": rename one, or keep one of them");
  return var;
}

// Checks that the read of a variable the listing found is of the listed class and holds at
// least `values` values (what libmatio says it filled).
void checkRead(const MatVar& var, const VarInfo& info, std::uint64_t values,
               const std::string& path) {
  const std::size_t valueBytes = info.type == MAT_C_DOUBLE ? sizeof(double) : sizeof(float);
  if (var->class_type != info.type || static_cast<std::size_t>(var->data_size) != valueBytes ||
      var->nbytes < values * valueBytes)
    throw std::runtime_error("Read of variable " + info.name + " in " + path + " failed");
}

std::range_error notFinite(std::size_t k, const VarInfo& info, const std::string& path) {
  return std::range_error("Sample " + std::to_string(k + 1) + " of variable " + info.name + " in " +
                          path + " is not a finite number");
}

void checkPairCount(std::uint64_t count, const std::string& path) {
  if (count > kMaxPairs)
    throw std::length_error("Too many IQ pairs in " + path + " (" + std::to_string(count) +
                            "): an .arb file holds at most " + std::to_string(kMaxPairs));
}

// The pairs of a complex vector or a real Nx2 matrix the listing found.
InputData readIqVariable(mat_t* mat, const VarInfo& info, const std::string& procPath,
                         const std::string& path) {
  const std::uint64_t count = info.pairs();
  checkPairCount(count, path);
  std::vector<IqPair> pairs(static_cast<std::size_t>(count));
  {
    const MatVar var = readListedVariable(mat, info, procPath, path);
    // Both layouts as two arrays of `count` values: split complex storage, or the
    // two columns of a column-major Nx2 matrix.
    const void* re = var->data;
    const void* im = var->data;
    std::size_t imOffset = static_cast<std::size_t>(count);
    if (info.complexVector()) {
      const auto* split = static_cast<const mat_complex_split_t*>(var->data);
      re = split->Re;
      im = split->Im;
      imOffset = 0;
    }
    // Filled: one part of `count` values when split, both columns otherwise.
    checkRead(var, info, count * (info.complexVector() ? 1 : 2), path);
    if (re == nullptr || im == nullptr)
      throw std::runtime_error("Read of variable " + info.name + " in " + path + " failed");
    if (info.type == MAT_C_DOUBLE)
      copyPairs(static_cast<const double*>(re), static_cast<const double*>(im) + imOffset, pairs);
    else
      copyPairs(static_cast<const float*>(re), static_cast<const float*>(im) + imOffset, pairs);
    for (std::size_t k = 0; k < pairs.size(); ++k) {
      if (!std::isfinite(pairs[k].i) || !std::isfinite(pairs[k].q)) throw notFinite(k, info, path);
    }
  }
  InputData input;
  input.pairs = std::make_unique<MemoryPairs>(std::move(pairs));
  input.formatName = "variable " + info.name + " (" + info.shape() + ")";
  return input;
}

const VarInfo& findVariable(const std::vector<VarInfo>& vars, const std::string& name,
                            const std::string& path) {
  const VarInfo* found = nullptr;
  for (const VarInfo& v : vars)
    if (v.name == name) found = &v;
  if (found == nullptr) {
    std::vector<const VarInfo*> all;
    for (const VarInfo& v : vars) all.push_back(&v);
    throw std::runtime_error(path + " has no variable " + name + " (it holds: " + nameList(all) +
                             ")");
  }
  return *found;
}

// Reads a real vector the listing found into one member (i or q) of every pair, checked as
// an IQ variable is: every value there and finite.
void readRealVector(mat_t* mat, const VarInfo& info, const std::string& procPath,
                    const std::string& path, std::vector<IqPair>& pairs, double IqPair::*member) {
  const MatVar var = readListedVariable(mat, info, procPath, path);
  checkRead(var, info, pairs.size(), path);
  for (std::size_t k = 0; k < pairs.size(); ++k) {
    const double value = numericAt(info.type, var->data, k);
    if (!std::isfinite(value)) throw notFinite(k, info, path);
    pairs[k].*member = value;
  }
}

// Whether two real vectors of one length are there to be named as --variable I,Q.
bool holdsTwoRealVectors(const std::vector<VarInfo>& vars) {
  for (std::size_t a = 0; a < vars.size(); ++a)
    for (std::size_t b = a + 1; b < vars.size(); ++b)
      if (vars[a].realVector() && vars[b].realVector() &&
          vars[a].elements() == vars[b].elements() && vars[a].elements() > 1)
        return true;
  return false;
}

// --variable I,Q: I and Q from two real vectors of one length.
InputData readVariablePair(mat_t* mat, const std::vector<VarInfo>& vars, const std::string& iName,
                           const std::string& qName, const std::string& procPath,
                           const std::string& path) {
  const VarInfo& i = findVariable(vars, iName, path);
  const VarInfo& q = findVariable(vars, qName, path);
  for (const VarInfo* v : {&i, &q})
    if (!v->realVector())
      throw std::runtime_error("Variable " + v->name + " of " + path + " is " + v->shape() +
                               ", not a real vector of single or double precision (--variable "
                               "I,Q pairs two real vectors of one length)");
  if (i.elements() != q.elements())
    throw std::length_error("Variables " + i.name + " (" + i.shape() + ") and " + q.name + " (" +
                            q.shape() + ") of " + path + " are not of one length");
  checkPairCount(i.elements(), path);
  std::vector<IqPair> pairs(static_cast<std::size_t>(i.elements()));
  readRealVector(mat, i, procPath, path, pairs, &IqPair::i);
  readRealVector(mat, q, procPath, path, pairs, &IqPair::q);
  InputData input;
  input.pairs = std::make_unique<MemoryPairs>(std::move(pairs));
  input.formatName =
      "variables " + i.name + " (" + i.shape() + ") and " + q.name + " (" + q.shape() + ")";
  return input;
}

}  // namespace

InputData readMat(const std::string& path, const std::optional<std::string>& variable,
                  Diagnostics& diagnostics) {
  InputStream file(path);
  if (file.isStandardInput())
    throw std::invalid_argument("MATLAB files are not read from standard input");
  const std::string procPath = "/proc/self/fd/" + std::to_string(file.descriptor());
  matio().logInitFunc("wavepack", keepMatioMessage);
  lastMatioMessage().clear();
  const MatFile mat(matio().open(procPath.c_str(), MAT_ACC_RDONLY));
  if (!mat)
    throw std::runtime_error(path + " is not a MATLAB file libmatio reads" +
                             matioMessage(procPath, path));
  const mat_ft version = matio().getVersion(mat.get());
  // Every value libmatio will hand back must be in the file (libmatio itself leaves
  // unknown, short or truncated data elements unfilled).
  if (version == MAT_FT_MAT5) checkMatV5Layout(file);
  const std::string versionName = version == MAT_FT_MAT73  ? "v7.3"
                                  : version == MAT_FT_MAT5 ? "v5"
                                                           : "v4";

  const std::vector<VarInfo> vars = listVariables(mat.get());
  std::vector<const VarInfo*> all;
  // IQ-shaped variables in the order they are chosen from: waveforms of more than one
  // sample, then single samples, then variables named as a sample rate (a 1x2 fs);
  // the first tier that holds any is the one to choose from.
  std::array<std::vector<const VarInfo*>, 3> tiers;
  const VarInfo* rate = nullptr;
  for (const VarInfo& v : vars) {
    all.push_back(&v);
    const bool rateNamed =
        std::find(kRateNames.begin(), kRateNames.end(), v.name) != kRateNames.end();
    if (v.iqShaped()) tiers[rateNamed ? 2 : v.pairs() > 1 ? 0 : 1].push_back(&v);
    if (!rateNamed) continue;
    if (!v.rateShaped())
      diagnostics.warn(v.name + " in " + path + " is " + v.shape() +
                       ", not a real scalar: the sample rate is not taken from it");
    else if (rate == nullptr)
      rate = &v;
  }
  std::vector<const VarInfo*> candidates;
  for (const auto& tier : tiers) {
    if (tier.empty()) continue;
    candidates = tier;
    break;
  }
  const VarInfo* chosen = nullptr;
  InputData input;
  const std::size_t comma = variable ? variable->find(',') : std::string::npos;
  if (comma != std::string::npos) {
    const std::string iName = variable->substr(0, comma);
    const std::string qName = variable->substr(comma + 1);
    if (iName.empty() || qName.empty() || qName.find(',') != std::string::npos)
      throw std::invalid_argument("--variable takes one name, or two as I,Q (it was \"" +
                                  *variable + "\")");
    input = readVariablePair(mat.get(), vars, iName, qName, procPath, path);
  } else if (variable) {
    chosen = &findVariable(vars, *variable, path);
    if (!chosen->iqShaped())
      throw std::runtime_error("Variable " + *variable + " of " + path + " is " + chosen->shape() +
                               ", not a complex vector or a real Nx2 matrix of single or double "
                               "precision");
  } else if (candidates.size() == 1) {
    chosen = candidates.front();
  } else if (candidates.empty()) {
    throw std::runtime_error(
        path +
        " holds no complex vector or real Nx2 matrix of single or double precision (it "
        "holds: " +
        nameList(all) + ")" +
        (holdsTwoRealVectors(vars) ? "; --variable I,Q reads two real vectors as I and Q" : ""));
  } else {
    throw std::runtime_error(path + " holds several IQ variables: " + nameList(candidates) +
                             "; choose one with --variable");
  }
  if (chosen != nullptr) input = readIqVariable(mat.get(), *chosen, procPath, path);

  if (rate != nullptr) {
    const MatVar var = readVariable(mat.get(), rate->name, procPath, path);
    const double hz = numericAt(rate->type, var->data, 0);
    if (!(hz > 0) || !std::isfinite(hz))
      throw std::runtime_error("The sample rate " + rate->name + " in " + path +
                               " is not a positive number");
    input.sampleRate = hz;
    input.rateSource = path;
  }
  input.formatName = "MATLAB " + versionName + " " + input.formatName;
  return input;
}

}  // namespace arbsuite::wavepack
