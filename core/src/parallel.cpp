// Running parts of a job on several threads (see parallel.h).
#include "parallel.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace arbsuite {

unsigned threadCount(unsigned requested) {
  if (requested != 0) return requested;
  return std::max(1u, std::thread::hardware_concurrency());
}

void runParts(unsigned parts, const std::function<void(unsigned part)>& work) {
  if (parts <= 1) {
    if (parts == 1) work(0);
    return;
  }
  std::vector<std::exception_ptr> failures(parts);
  std::vector<std::thread> workers;
  workers.reserve(parts - 1);
  for (unsigned part = 1; part < parts; ++part) {
    workers.emplace_back([&, part] {
      try {
        work(part);
      } catch (...) {
        failures[part] = std::current_exception();
      }
    });
  }
  try {
    work(0);
  } catch (...) {
    failures[0] = std::current_exception();
  }
  for (std::thread& worker : workers) worker.join();
  for (const std::exception_ptr& failure : failures)
    if (failure) std::rethrow_exception(failure);
}

}  // namespace arbsuite
