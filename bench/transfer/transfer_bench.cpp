// One Execute over a corpus, timed, with a progress handler on every block (as the build has).
//   transfer_bench ftp-upload   <corpus> <host:port> <user> <password> <remote folder>
//   transfer_bench http-download <corpus> <base URL> <local folder>
//   transfer_bench copy          <corpus> <local folder>
// Prints the seconds Execute took, then the number of progress events.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "transfer/filetransfer.h"

using namespace kelvane;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: see the source\n");
    return 2;
  }
  const std::string mode = argv[1], corpus = argv[2];
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(corpus))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());

  TFileTransfer t;
  t.ShowDialog = false;
  t.FTPPassive = true;
  long events = 0;
  std::uint64_t bytes = 0;
  t.OnCopyProgress = [&](TFileTransfer&, int, std::uint64_t done, std::uint64_t) {
    ++events;
    bytes = done;
  };
  int failures = 0;
  t.OnErrorInfo = [&](TFileTransfer&, int code, const std::string& text) {
    std::fprintf(stderr, "error %d: %s\n", code, text.c_str());
  };
  for (const auto& n : names) {
    TTransferItem& item = t.Items.Add();
    if (mode == "ftp-upload" && argc >= 7) {
      item.Protocol = TTransferProtocol::wpFtpUpload;
      item.URL = corpus + "/" + n;
      item.FTPHost = argv[3];
      item.FTPUserID = argv[4];
      item.FTPPassword = argv[5];
      item.TargetDir = argv[6];
    } else if (mode == "http-download" && argc >= 5) {
      item.Protocol = TTransferProtocol::wpHttp;
      item.URL = std::string(argv[3]) + "/" + n;
      item.TargetDir = argv[4];
    } else if (mode == "copy") {
      item.Protocol = TTransferProtocol::wpFile;
      item.URL = corpus + "/" + n;
      item.TargetDir = argv[3];
    } else {
      std::fprintf(stderr, "bad arguments\n");
      return 2;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  t.Execute();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (int i = 0; i < t.Items.Count(); ++i)
    if (!t.Items[i].Success) ++failures;
  std::printf("%.4f %ld\n", seconds, events);
  (void)bytes;
  return failures == 0 ? 0 : 1;
}
