// The process-wide cache of FFTW plans and the transforms that use them.
#include "fft.h"

#include <fftw3.h>

#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "loaded_library.h"

namespace arbsuite::analysis {
namespace {

// FFTW's single-precision functions, loaded with the library when the first transform
// is made: of arbtool's commands only the analysis ones transform.
struct Fftwf {
  Fftwf()
      : library(ARBSUITE_FFTW3F_SONAME, "computes the spectra"),
        allocComplex(library.function<decltype(&fftwf_alloc_complex)>("fftwf_alloc_complex")),
        free(library.function<decltype(&fftwf_free)>("fftwf_free")),
        planDft1d(library.function<decltype(&fftwf_plan_dft_1d)>("fftwf_plan_dft_1d")),
        executeDft(library.function<decltype(&fftwf_execute_dft)>("fftwf_execute_dft")),
        destroyPlan(library.function<decltype(&fftwf_destroy_plan)>("fftwf_destroy_plan")),
        cleanup(library.function<decltype(&fftwf_cleanup)>("fftwf_cleanup")) {}
  arb::LoadedLibrary library;
  decltype(&fftwf_alloc_complex) allocComplex;
  decltype(&fftwf_free) free;
  decltype(&fftwf_plan_dft_1d) planDft1d;
  decltype(&fftwf_execute_dft) executeDft;
  decltype(&fftwf_destroy_plan) destroyPlan;
  decltype(&fftwf_cleanup) cleanup;
};

// The plans, and the functions that make and run them: the cache lives until the
// process ends, and the library with it.
class PlanCache {
 public:
  ~PlanCache() {
    for (auto& entry : plans_) fftw_.destroyPlan(entry.second);
    fftw_.cleanup();
  }

  const Fftwf& functions() const { return fftw_; }

  // The plan of size n in direction; FFTW_ESTIMATE leaves the planning buffers
  // untouched, and every buffer from fftwf_alloc_complex has the alignment the
  // plan was made for, so the plan runs on any such pair (fftwf_execute_dft).
  fftwf_plan planFor(std::size_t n, FftDirection direction) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto key = std::make_pair(n, direction);
    if (const auto found = plans_.find(key); found != plans_.end()) return found->second;
    fftwf_complex* in = fftw_.allocComplex(n);
    fftwf_complex* out = fftw_.allocComplex(n);
    fftwf_plan plan =
        (in == nullptr || out == nullptr)
            ? nullptr
            : fftw_.planDft1d(static_cast<int>(n), in, out,
                              direction == FftDirection::Forward ? FFTW_FORWARD : FFTW_BACKWARD,
                              FFTW_ESTIMATE);
    fftw_.free(in);
    fftw_.free(out);
    if (plan == nullptr) throw std::bad_alloc();
    plans_.emplace(key, plan);
    return plan;
  }

 private:
  Fftwf fftw_;
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
      in_(reinterpret_cast<std::complex<float>*>(planCache().functions().allocComplex(n))),
      out_(reinterpret_cast<std::complex<float>*>(planCache().functions().allocComplex(n))) {
  if (in_ == nullptr || out_ == nullptr) {
    planCache().functions().free(in_);
    planCache().functions().free(out_);
    throw std::bad_alloc();
  }
}

Fft::~Fft() {
  planCache().functions().free(in_);
  planCache().functions().free(out_);
}

void Fft::execute() {
  planCache().functions().executeDft(static_cast<fftwf_plan>(plan_),
                                     reinterpret_cast<fftwf_complex*>(in_),
                                     reinterpret_cast<fftwf_complex*>(out_));
}

}  // namespace arbsuite::analysis
