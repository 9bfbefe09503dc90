// FFTW transforms (see fourier.h). FFTW_ESTIMATE plans never touch the data while
// planning and are the same for the same size, so results are deterministic.
#include "fourier.h"

#include <fftw3.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <thread>

namespace arbsuite::prep {

namespace {

std::mutex& plannerLock() {
  static std::mutex lock;
  return lock;
}

// Transforms of at least this many points run on every core (FFTW's threads); the
// plan for a size and thread count is always the same, so results stay reproducible.
constexpr std::size_t kThreadedPoints = std::size_t{1} << 18;

int threadsFor(std::size_t points) {
  static const bool ready = fftw_init_threads() != 0;
  if (!ready || points < kThreadedPoints) return 1;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

}  // namespace

void transform(std::span<Iq> data, bool forward) {
  if (data.size() < 2) return;  // the DFT of one sample is itself
  auto* buffer = reinterpret_cast<fftw_complex*>(data.data());
  fftw_plan plan = nullptr;
  {
    const std::lock_guard<std::mutex> hold(plannerLock());
    fftw_plan_with_nthreads(threadsFor(data.size()));
    plan = fftw_plan_dft_1d(static_cast<int>(data.size()), buffer, buffer,
                            forward ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
  }
  if (plan == nullptr) throw std::bad_alloc();
  fftw_execute(plan);
  const std::lock_guard<std::mutex> hold(plannerLock());
  fftw_destroy_plan(plan);
}

double binFrequency(std::size_t k, std::size_t n, double rate) {
  const auto signedBin =
      k < (n + 1) / 2 ? static_cast<double>(k) : static_cast<double>(k) - static_cast<double>(n);
  return signedBin * rate / static_cast<double>(n);
}

std::size_t binAtPosition(std::size_t p, std::size_t n) { return (p + (n + 1) / 2) % n; }

}  // namespace arbsuite::prep
