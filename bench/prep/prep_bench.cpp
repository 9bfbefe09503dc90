// Timed runs of the preparation steps on raw cf64_le files, for bench/prep/vs_scipy.py
// (which runs scipy on the same data in the same run):
//   prep_bench resample IN OUT RATE_IN RATE_OUT [REPEAT]
//   prep_bench shift IN OUT CLOCK FREQ
//   prep_bench papr IN OUT CLOCK TARGET_DB
//   prep_bench compose IN1 IN2 OUT CLOCK
// Prints the seconds the step took (reading and writing the files excluded), the
// peak resident memory in bytes and (papr) the passes of crest-factor reduction.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "waveform_prep.h"

namespace {

using arbsuite::prep::Iq;

std::vector<Iq> load(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const auto bytes = static_cast<std::size_t>(in.tellg());
  std::vector<Iq> x(bytes / sizeof(Iq));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(x.data()), static_cast<std::streamsize>(x.size() * sizeof(Iq)));
  return x;
}

void save(const std::string& path, const std::vector<Iq>& x) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(x.data()),
            static_cast<std::streamsize>(x.size() * sizeof(Iq)));
}

// The peak resident memory of this process image (VmHWM: getrusage's maximum
// carries over the parent's across exec).
long peakBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) * 1024;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() < 4) {
    std::cerr << "usage: see the file's opening comment\n";
    return 1;
  }
  std::vector<Iq> x = load(a[1]);
  std::vector<Iq> y;
  int passes = 0;
  const auto start = std::chrono::steady_clock::now();
  if (a[0] == "resample") {
    y = arbsuite::prep::resample(x, std::stod(a[3]), std::stod(a[4]),
                                 a.size() > 5 ? std::stoull(a[5]) : 1);
  } else if (a[0] == "shift") {
    arbsuite::prep::shift(x, std::stod(a[3]), std::stod(a[4]));
    y = std::move(x);
  } else if (a[0] == "papr") {
    passes = arbsuite::prep::reducePapr(x, std::stod(a[3]), std::stod(a[4])).iterations;
    y = std::move(x);
  } else if (a[0] == "compose") {
    std::vector<Iq> second = load(a[2]);
    const double clock = std::stod(a[4]);
    // Moved in one by one: an initializer list would copy both inputs.
    std::vector<arbsuite::prep::CarrierInput> inputs;
    inputs.push_back({std::move(x), clock, -clock / 5, 0, a[1]});
    inputs.push_back({std::move(second), clock, clock / 5, -3, a[2]});
    y = arbsuite::prep::compose(std::move(inputs), clock).iq;
    save(a[3], y);
    std::printf("%.6f %ld\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                peakBytes());
    return 0;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  save(a[2], y);
  std::printf("%.6f %ld %d\n", seconds, peakBytes(), passes);
  return 0;
}
