#pragma once
// Records a transfer's events as text lines, in order, for the tests to compare.
#include <string>
#include <vector>

#include "transfer/filetransfer.h"

namespace kelvane::testing {

struct TEventRecorder {
  std::vector<std::string> events;     // everything but progress
  std::vector<std::string> progress;   // "fileidx:size/total"
  std::vector<std::pair<int, std::string>> errors;

  explicit TEventRecorder(TFileTransfer& t) {
    t.OnFileStart = [this](TFileTransfer&, int i) { events.push_back("start " + std::to_string(i)); };
    t.OnFileDone = [this](TFileTransfer&, int i) { events.push_back("done " + std::to_string(i)); };
    t.OnCopyDone = [this](TFileTransfer&) { events.push_back("copydone"); };
    t.OnCopyProgress = [this](TFileTransfer&, int f, std::uint64_t s, std::uint64_t tot) {
      progress.push_back(std::to_string(f) + ":" + std::to_string(s) + "/" + std::to_string(tot));
    };
    t.OnError = [this](TFileTransfer&, int code) { events.push_back("error " + std::to_string(code)); };
    t.OnErrorInfo = [this](TFileTransfer&, int code, const std::string& info) {
      errors.emplace_back(code, info);
    };
    t.OnConnectError = [this](TFileTransfer&) { events.push_back("connecterror"); };
    t.OnURLNotFound = [this](TFileTransfer&, const std::string& u) { events.push_back("notfound " + u); };
    t.OnNoNewFileFound = [this](TFileTransfer&, const std::string& f, TDateTime, TDateTime) {
      events.push_back("nonew " + f);
    };
    t.OnMultiFTPFileDone = [this](TFileTransfer&, const std::string& f) { events.push_back("multidone " + f); };
    t.OnRemovedFile = [this](TFileTransfer&, int i) { events.push_back("removed " + std::to_string(i)); };
    t.OnRemovedFileFailed = [this](TFileTransfer&, int i) { events.push_back("removefailed " + std::to_string(i)); };
  }
};

}  // namespace kelvane::testing
