#pragma once
// While alive, the process may write no file beyond `bytes`: a real refusal by the system that
// reaches root too (a read-only folder does not stop root). SIGXFSZ is ignored, so the write
// fails with EFBIG instead of ending the test.
#include <sys/resource.h>

#include <csignal>

namespace kelvane::testing {

class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit small = old_;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~TFileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old_); }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit old_{};
};

}  // namespace kelvane::testing
