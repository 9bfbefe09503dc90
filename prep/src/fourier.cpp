// FFTW transforms (see fourier.h). FFTW_ESTIMATE plans never touch the data while
// planning and are the same for the same size, so results are deterministic.
#include "fourier.h"

#include <fftw3.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "huge_pages.h"
#include "loaded_library.h"

namespace arbsuite::prep {

namespace {

// FFTW's functions, loaded with the library and its threads at the first plan: most
// runs of the programs that link the preparation steps transform nothing. The
// libraries stay loaded for the process (FFTW keeps its planner's state).
struct Fftw {
  Fftw()
      : library(ARBSUITE_FFTW3_SONAME, "computes the Fourier transforms"),
        threads(ARBSUITE_FFTW3_THREADS_SONAME, "runs large Fourier transforms on every core"),
        planDft1d(library.function<decltype(&fftw_plan_dft_1d)>("fftw_plan_dft_1d")),
        execute(library.function<decltype(&fftw_execute)>("fftw_execute")),
        destroyPlan(library.function<decltype(&fftw_destroy_plan)>("fftw_destroy_plan")),
        initThreads(threads.function<decltype(&fftw_init_threads)>("fftw_init_threads")),
        planWithNthreads(
            threads.function<decltype(&fftw_plan_with_nthreads)>("fftw_plan_with_nthreads")),
        threadsReady(initThreads() != 0) {}
  arb::LoadedLibrary library;
  arb::LoadedLibrary threads;
  decltype(&fftw_plan_dft_1d) planDft1d;
  decltype(&fftw_execute) execute;
  decltype(&fftw_destroy_plan) destroyPlan;
  decltype(&fftw_init_threads) initThreads;
  decltype(&fftw_plan_with_nthreads) planWithNthreads;
  bool threadsReady;
};

const Fftw& fftw() {
  static const Fftw functions;
  return functions;
}

std::mutex& plannerLock() {
  static std::mutex lock;
  return lock;
}

// Transforms of at least this many points run on every core (FFTW's threads); the
// plan for a size and thread count is always the same, so results stay reproducible.
constexpr std::size_t kThreadedPoints = std::size_t{1} << 18;

int threadsFor(std::size_t points) {
  if (!fftw().threadsReady || points < kThreadedPoints) return 1;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

}  // namespace

namespace {

void run(const Iq* in, Iq* out, std::size_t n, bool forward) {
  // FFTW takes a non-const input; out-of-place complex transforms leave it unchanged.
  auto* source = reinterpret_cast<fftw_complex*>(const_cast<Iq*>(in));
  auto* target = reinterpret_cast<fftw_complex*>(out);
  fftw_plan plan = nullptr;
  {
    const std::lock_guard<std::mutex> hold(plannerLock());
    fftw().planWithNthreads(threadsFor(n));
    plan = fftw().planDft1d(static_cast<int>(n), source, target,
                            forward ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
  }
  if (plan == nullptr) throw std::bad_alloc();
  fftw().execute(plan);
  const std::lock_guard<std::mutex> hold(plannerLock());
  fftw().destroyPlan(plan);
}

}  // namespace

void transform(std::span<Iq> data, bool forward) {
  if (data.size() < 2) return;  // the DFT of one sample is itself
  run(data.data(), data.data(), data.size(), forward);
}

void transform(std::span<const Iq> in, std::span<Iq> out, bool forward) {
  if (in.size() < 2) {
    std::copy(in.begin(), in.end(), out.begin());
    return;
  }
  run(in.data(), out.data(), in.size(), forward);
}

namespace {

// Buffers of at least this many bytes start on a 2 MiB boundary and ask for huge
// pages: faulting in hundreds of megabytes 4 KiB at a time costs more than the
// transforms that fill them.
constexpr std::size_t kHugeBufferBytes = std::size_t{4} << 20;
constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// FFTW's SIMD codelets need 32 bytes (AVX); 64 keeps a cache line whole.
constexpr std::size_t kSimdAlignment = 64;

}  // namespace

AlignedSamples::AlignedSamples(std::size_t n) : size_(n) {
  if (n == 0) return;
  if (n > SIZE_MAX / sizeof(Iq)) throw std::bad_alloc();
  const std::size_t bytes = n * sizeof(Iq);
  const std::size_t alignment = bytes >= kHugeBufferBytes ? kHugePageBytes : kSimdAlignment;
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  data_ = static_cast<Iq*>(std::aligned_alloc(alignment, rounded));
  if (data_ == nullptr) throw std::bad_alloc();
  if (alignment == kHugePageBytes) arb::adviseHugePages(data_, rounded);
}

AlignedSamples::~AlignedSamples() { release(); }

void AlignedSamples::release() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
}

std::vector<Iq> samplesOnHugePages(std::size_t n) {
  std::vector<Iq> samples;
  samples.reserve(n);
  if (n * sizeof(Iq) >= kHugeBufferBytes) arb::adviseHugePages(samples.data(), n * sizeof(Iq));
  samples.resize(n);
  return samples;
}

BufferTransforms::BufferTransforms(std::span<Iq> buffer) {
  if (buffer.size() < 2) return;
  auto* data = reinterpret_cast<fftw_complex*>(buffer.data());
  const auto n = static_cast<int>(buffer.size());
  const Fftw& functions = fftw();
  const std::lock_guard<std::mutex> hold(plannerLock());
  functions.planWithNthreads(threadsFor(buffer.size()));
  forward_ = functions.planDft1d(n, data, data, FFTW_FORWARD, FFTW_ESTIMATE);
  backward_ = functions.planDft1d(n, data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
  if (forward_ == nullptr || backward_ == nullptr) {
    if (forward_ != nullptr) functions.destroyPlan(static_cast<fftw_plan>(forward_));
    if (backward_ != nullptr) functions.destroyPlan(static_cast<fftw_plan>(backward_));
    throw std::bad_alloc();
  }
}

BufferTransforms::~BufferTransforms() {
  if (forward_ == nullptr && backward_ == nullptr) return;  // a buffer too short to transform
  const std::lock_guard<std::mutex> hold(plannerLock());
  if (forward_ != nullptr) fftw().destroyPlan(static_cast<fftw_plan>(forward_));
  if (backward_ != nullptr) fftw().destroyPlan(static_cast<fftw_plan>(backward_));
}

void BufferTransforms::forward() {
  if (forward_ != nullptr) fftw().execute(static_cast<fftw_plan>(forward_));
}

void BufferTransforms::backward() {
  if (backward_ != nullptr) fftw().execute(static_cast<fftw_plan>(backward_));
}

double binFrequency(std::size_t k, std::size_t n, double rate) {
  const auto signedBin =
      k < (n + 1) / 2 ? static_cast<double>(k) : static_cast<double>(k) - static_cast<double>(n);
  return signedBin * rate / static_cast<double>(n);
}

std::size_t binAtPosition(std::size_t p, std::size_t n) { return (p + (n + 1) / 2) % n; }

}  // namespace arbsuite::prep
