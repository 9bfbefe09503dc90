// The process-wide cache of FFTW plans and the transforms that use them.
#include "fft.h"

#include <fftw3.h>

#include <map>
#include <mutex>
#include <new>
#include <utility>

namespace arbsuite::analysis {
namespace {

class PlanCache {
 public:
  ~PlanCache() {
    for (auto& entry : plans_) fftwf_destroy_plan(entry.second);
    fftwf_cleanup();
  }

  // The plan of size n in direction; FFTW_ESTIMATE leaves the planning buffers
  // untouched, and every buffer from fftwf_alloc_complex has the alignment the
  // plan was made for, so the plan runs on any such pair (fftwf_execute_dft).
  fftwf_plan planFor(std::size_t n, FftDirection direction) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto key = std::make_pair(n, direction);
    if (const auto found = plans_.find(key); found != plans_.end()) return found->second;
    fftwf_complex* in = fftwf_alloc_complex(n);
    fftwf_complex* out = fftwf_alloc_complex(n);
    fftwf_plan plan =
        (in == nullptr || out == nullptr)
            ? nullptr
            : fftwf_plan_dft_1d(static_cast<int>(n), in, out,
                                direction == FftDirection::Forward ? FFTW_FORWARD : FFTW_BACKWARD,
                                FFTW_ESTIMATE);
    fftwf_free(in);
    fftwf_free(out);
    if (plan == nullptr) throw std::bad_alloc();
    plans_.emplace(key, plan);
    return plan;
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<std::size_t, FftDirection>, fftwf_plan> plans_;
};

PlanCache& planCache() {
  static PlanCache cache;
  return cache;
}

}  // namespace

Fft::Fft(std::size_t n, FftDirection direction)
    : n_(n),
      plan_(planCache().planFor(n, direction)),
      in_(reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(n))),
      out_(reinterpret_cast<std::complex<float>*>(fftwf_alloc_complex(n))) {
  if (in_ == nullptr || out_ == nullptr) {
    fftwf_free(in_);
    fftwf_free(out_);
    throw std::bad_alloc();
  }
}

Fft::~Fft() {
  fftwf_free(in_);
  fftwf_free(out_);
}

void Fft::execute() {
  fftwf_execute_dft(static_cast<fftwf_plan>(plan_), reinterpret_cast<fftwf_complex*>(in_),
                    reinterpret_cast<fftwf_complex*>(out_));
}

}  // namespace arbsuite::analysis
