// The shared library as a host sees it: what a fresh load prints and answers,
// the run log it creates, and the exact list of exported symbols.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

fs::path freshDir(const std::string& name) {
  const fs::path dir = fs::current_path() / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Runs body in a child process whose current directory is dir and whose
// standard output goes to stdoutFile; returns the child's exit status.
template <typename Body>
int inChild(const fs::path& dir, const fs::path& stdoutFile, bool removeDirFirst, Body body) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    // The cases check the defaults: the library reads these two at load.
    unsetenv("IQSYNTH_RUN_LOG");
    unsetenv("IQSYNTH_STDOUT");
    FILE* out = std::freopen(stdoutFile.c_str(), "w", stdout);
    if (out == nullptr || chdir(dir.c_str()) != 0) {
      _exit(100);
    }
    if (removeDirFirst && rmdir(dir.c_str()) != 0) {
      _exit(101);
    }
    const int status = body();
    std::fflush(stdout);
    _exit(status);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
}

template <typename T>
T sym(void* lib, const char* name) {
  return reinterpret_cast<T>(dlsym(lib, name));
}

// Loads the library and checks the state right after loading; returns the
// number of failed checks (0 = all good).
int checkFreshLoad() {
  void* lib = dlopen(IQSYNTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    return 90;
  }
  int failures = 0;
  for (const char* name :
       {"getCodingType", "getDataSrc", "getDigiModulatingType", "getFilterLengh",
        "getOverSamplingRate", "getPrbs", "getSequenceLenth", "getShapingFilterType",
        "getUsrListSize", "getWorkingMode", "getFilterTap", "getMccwCarrierSample",
        "_Z16getPowerRampFuncv", "_Z16getPowerRampTimev"}) {
    auto f = sym<int (*)()>(lib, name);
    failures += (f == nullptr || f() != 0);
  }
  for (const char* name :
       {"getAlphaBt", "getMaxFskDev", "getMaxAskDepth", "getSymbolRate", "getNoiseBandWidth",
        "getNoiseLvlSysBW", "getNoiseLvlTotalBW", "getSigLvlPep", "getCarrierLvldB", "getSigLvldB",
        "getMccwCarrierSampleFreq"}) {
    auto f = sym<double (*)()>(lib, name);
    failures += (f == nullptr || f() != 0.0);
  }
  for (const char* name :
       {"isDataFormatIsHex", "isFskPhaseCorrectEnable", "_Z17isPowerRampEnablev"}) {
    auto f = sym<bool (*)()>(lib, name);
    failures += (f == nullptr || f());
  }
  auto userList = sym<const char* (*)()>(lib, "getUserList");
  failures += (userList == nullptr || userList()[0] != 0 || userList()[2047] != 0);
  auto constel = sym<int (*)(double*)>(lib, "getConstelMap");
  double buf[2] = {7.0, 7.0};
  failures += (constel == nullptr || constel(buf) != 1 || buf[0] != 7.0);
  auto symbolMap = sym<void (*)(char*, int)>(lib, "getSymbolMap");
  char flags[256];
  std::fill(std::begin(flags), std::end(flags), 1);
  if (symbolMap != nullptr) {
    symbolMap(flags, 256);
  }
  failures += (symbolMap == nullptr || std::count(std::begin(flags), std::end(flags), 0) != 256);
  dlclose(lib);
  return failures;
}

TEST(IqsynthLibraryLoad, FreshLoadAnswersZeroAndGreets) {
  const fs::path dir = freshDir("fresh");
  const fs::path out = fs::current_path() / "fresh.out";
  EXPECT_EQ(inChild(dir, out, false, checkFreshLoad), 0);
  EXPECT_EQ(readFile(out), "start iqsynth from global\n");
}

TEST(IqsynthLibraryLoad, EveryLoadStartsANewEmptyLog) {
  const fs::path dir = freshDir("newlog");
  const fs::path out = fs::current_path() / "newlog.out";
  {
    std::ofstream old(dir / "iqSynthRun.log");
    old << "entries of an earlier process\n";
  }
  const auto load = [] {
    void* lib = dlopen(IQSYNTH_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    return lib == nullptr ? 1 : 0;
  };
  ASSERT_EQ(inChild(dir, out, false, load), 0);
  ASSERT_TRUE(fs::exists(dir / "iqSynthRun.log"));
  EXPECT_EQ(fs::file_size(dir / "iqSynthRun.log"), 0u);
}

TEST(IqsynthLibraryLoad, LogThatCannotBeCreatedIsReportedOnceAndLoadingGoesOn) {
  // The child works in a directory that is removed under it, so no file can
  // be created there whatever the user's rights.
  const fs::path dir = freshDir("gone");
  const fs::path out = fs::current_path() / "gone.out";
  EXPECT_EQ(inChild(dir, out, true, checkFreshLoad), 0);
  // Both are printed while the library loads, in the order its objects are built.
  std::vector<std::string> printed;
  std::istringstream lines(readFile(out));
  for (std::string line; std::getline(lines, line);) {
    printed.push_back(line);
  }
  std::sort(printed.begin(), printed.end());
  EXPECT_EQ(printed,
            (std::vector<std::string>{"can not open the log file", "start iqsynth from global"}));
}

// Every symbol the library must export: the configuration interface, the run
// entry points, the data symbols and the three getters with C++ linkage.
const std::set<std::string> kExpectedExports = {"setAlphaBt",
                                                "getAlphaBt",
                                                "setCodingType",
                                                "getCodingType",
                                                "setDataSrc",
                                                "getDataSrc",
                                                "setDigiModulatingType",
                                                "getDigiModulatingType",
                                                "setFilterLengh",
                                                "getFilterLengh",
                                                "setMaxFskDev",
                                                "getMaxFskDev",
                                                "setMaxAskDepth",
                                                "getMaxAskDepth",
                                                "setOverSamplingRate",
                                                "getOverSamplingRate",
                                                "setPrbs",
                                                "getPrbs",
                                                "setSequenceLenth",
                                                "getSequenceLenth",
                                                "setShapingFilterType",
                                                "getShapingFilterType",
                                                "setSymbolRate",
                                                "getSymbolRate",
                                                "setUsrListSize",
                                                "getUsrListSize",
                                                "setWorkingMode",
                                                "getWorkingMode",
                                                "setDataFormatIsHex",
                                                "isDataFormatIsHex",
                                                "setFskPhaseCorrectEnable",
                                                "isFskPhaseCorrectEnable",
                                                "setPowerRampEnable",
                                                "setPowerRampFunc",
                                                "setPowerRampTime",
                                                "setPowerRampItem",
                                                "setSigAddNoiseIsEnable",
                                                "setNoiseSampleRate",
                                                "setNoiseSeqLength",
                                                "setNoiseSystemBandwidth",
                                                "setBandWidthRatio",
                                                "setNoiseCNR",
                                                "setMccwCarrierItem",
                                                "setMccwCarrierSpacing",
                                                "setMccwOptCrestFactorEn",
                                                "setMccwOptCrestFactorMode",
                                                "setInstallPath",
                                                "setDataFileList",
                                                "setCtrlFileList",
                                                "setIqFilePathName",
                                                "setTmpFilePathName",
                                                "setUsrList",
                                                "setShapingFilterCoef",
                                                "setPowerRampStartSymbol",
                                                "setPowerRampAttenuation",
                                                "setMccwCarrierSAmp",
                                                "setMccwCarrierPhase",
                                                "setMccwCarrierEn",
                                                "setUsrModulatingSymbolItem",
                                                "setUsrModulatingConstelMap",
                                                "getFilterTap",
                                                "getFilterCoef",
                                                "getSymbolMap",
                                                "getConstelMap",
                                                "getUserList",
                                                "getNoiseBandWidth",
                                                "getNoiseLvlSysBW",
                                                "getNoiseLvlTotalBW",
                                                "getSigLvlPep",
                                                "getCarrierLvldB",
                                                "getSigLvldB",
                                                "getMccwCarrierSample",
                                                "getMccwCarrierSampleFreq",
                                                "getMaxFilterLen",
                                                "getMaxOsr",
                                                "getMaxUsrListSize",
                                                "runMccwCarrierParamGen",
                                                "runIqSynth",
                                                "_Z17isPowerRampEnablev",
                                                "_Z16getPowerRampFuncv",
                                                "_Z16getPowerRampTimev",
                                                "gIqSynthCfg",
                                                "iMapDat",
                                                "qMapDat",
                                                "mapDat",
                                                "edge8PSKRotSin",
                                                "edge8PSKRotCos"};

TEST(IqsynthExports, DynamicSymbolTableHoldsExactlyTheInterface) {
  const std::string command = std::string("nm -D --defined-only '") + IQSYNTH_LIBRARY + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::vector<std::string> parts;
    for (std::string part; fields >> part;) {
      parts.push_back(part);
    }
    // "<value> <type> <name>"; version definitions (type A) are not symbols of ours.
    if (parts.size() >= 2 && parts[parts.size() - 2] != "A") {
      exported.insert(parts.back());
    }
  }
  ASSERT_EQ(pclose(pipe), 0) << command;
  for (const auto& name : kExpectedExports) {
    EXPECT_TRUE(exported.count(name)) << "missing export: " << name;
  }
  for (const auto& name : exported) {
    EXPECT_TRUE(kExpectedExports.count(name)) << "unexpected export: " << name;
  }
}

}  // namespace
