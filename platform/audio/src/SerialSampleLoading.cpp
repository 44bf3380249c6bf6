#include "SerialSampleLoading.h"

#include <dlfcn.h>

namespace chimewick::audio {

void SerialSampleLoading::LibraryCloser::operator()(void* library) const noexcept { ::dlclose(library); }

SerialSampleLoading::SerialSampleLoading() noexcept {
  // Only an OpenMP runtime that FluidSynth has loaded already; none is loaded here.
  openMp_.reset(::dlopen("libgomp.so.1", RTLD_LAZY | RTLD_NOLOAD));
  if (!openMp_) return;
  auto setThreads = reinterpret_cast<void (*)(int)>(::dlsym(openMp_.get(), "omp_set_num_threads"));
  auto maxThreads = reinterpret_cast<int (*)()>(::dlsym(openMp_.get(), "omp_get_max_threads"));
  if (setThreads == nullptr || maxThreads == nullptr) return;
  previousThreads_ = maxThreads();
  setThreads_ = setThreads;
  setThreads_(1);
}

SerialSampleLoading::~SerialSampleLoading() {
  if (setThreads_ != nullptr) setThreads_(previousThreads_);
}

}  // namespace chimewick::audio
