#include "transfer/progress.h"

#include <cmath>
#include <cstdio>

#include "transfer/filetransfer.h"

namespace kelvane {

namespace {

// Nearest integer, halves to the even neighbour (the rounding the dialog texts use).
double RoundEven(double v) { return std::nearbyint(v); }

std::string ByThousands(double n, const char* bytes, const char* kilo, const char* mega) {
  char text[64];
  if (n < 1000) {
    std::snprintf(text, sizeof text, "%.0f%s", n, bytes);
  } else if (n < 1000000) {
    std::snprintf(text, sizeof text, "%.2f%s", n / 1000, kilo);
  } else {
    std::snprintf(text, sizeof text, "%.2f%s", n / 1000000, mega);
  }
  return text;
}

}  // namespace

std::string TransferSizeText(std::uint32_t n) { return ByThousands(n, " bytes", " Kb", " Mb"); }

std::string TransferRateText(std::int32_t bytesPerSecond) {
  return ByThousands(bytesPerSecond, " bytes/sec", " Kb/sec", " Mb/sec");
}

std::string TransferTimeText(double t, std::uint64_t done, std::uint64_t total) {
  if (done > 0) {
    // The difference wraps like the original's unsigned 32-bit arithmetic.
    const std::uint32_t left = static_cast<std::uint32_t>(total - done);
    t = static_cast<double>(left) * t / static_cast<double>(done);
  }
  t = RoundEven(t);
  const double s = RoundEven(t / 1000);
  const double m = RoundEven(s / 60);
  const double h = RoundEven(m / 60);
  char text[64];
  if (m == 0 && h == 0) {
    std::snprintf(text, sizeof text, "%.0f sec.", s);
  } else if (h > 0) {
    const long long mins = static_cast<long long>(m);
    std::snprintf(text, sizeof text, "%lldh %lld", mins / 60, mins % 60);
  } else {
    std::snprintf(text, sizeof text, "%.0f minutes", m);
  }
  return text;
}

bool TTransferProgress::CanClose() const { return HasCloseButton || Finished; }

void TTransferProgress::CancelClicked() {
  owner_.DialogCancelClicked();
  RequestClose();
}

bool TTransferProgress::RequestClose() {
  if (!CanClose()) return false;
  if (Visible && view_) view_->Close(*this);
  Visible = false;
  return true;
}

void TTransferProgress::OpenFileClicked() {
  if (!OpenFileEnabled) return;
  if (view_) view_->OpenPath(LastTargetFile);
  Close();
}

void TTransferProgress::OpenFolderClicked() {
  if (!OpenFolderEnabled) return;
  if (view_) view_->OpenPath(LastTargetFolder);
  Close();
}

void TTransferProgress::Build(TTransferProgressView* view) {
  view_ = view;
  const TFileTransfer& o = owner_;
  Caption = o.DlgCaption + " ...";
  FileLine = o.DlgFileLabel;
  ProgressLine = o.DlgProgressLabel;
  RateLine = o.DlgRateLabel;
  TimeLine = o.DlgTimeLabel;
  ElapsedLine = o.DlgElapsedTimeLabel;
  BarPosition = 0;
  CountPrefix.clear();
  Animation = TTransferAnimation::aniDownload;
  AnimationRunning = true;
  Visible = false;
  StayOnTop = o.ShowDialogOnTop;
  Topmost = false;
  HasCloseButton = o.DlgShowCloseBtn;
  Finished = false;
  Destroyed = false;
  ShowFileLine = o.ShowFileName;
  ShowTimeLine = o.ShowTime;
  ShowElapsedLine = o.ShowElapsedTime;
  HasCancelButton = o.DlgShowCancel;
  HasOpenFileButton = o.ShowOpenFile;
  HasOpenFolderButton = o.ShowOpenFolder;
  OpenFileEnabled = OpenFolderEnabled = false;
  CancelCaption = o.DlgCancel;
  OpenFileCaption = o.DlgOpenFile;
  OpenFolderCaption = o.DlgOpenFolder;
  LastTargetFile.clear();
  LastTargetFolder.clear();

  // Hidden lines keep their place; only the file line moves the others.
  const int extra = (o.ShowTime ? 20 : 0) + (o.ShowElapsedTime ? 20 : 0);
  TLayout l;
  l.Width = 300;
  l.Height = SystemCaptionHeight + 188 + extra - (o.DlgShowCancel ? 0 : 20);
  l.BarWidth = l.Width - 20;
  const int lineBase = o.ShowFileName ? 80 : 60;
  l.ProgressLineTop = lineBase + 20;
  l.RateLineTop = lineBase + 40;
  l.TimeLineTop = lineBase + 60;
  l.ElapsedLineTop = lineBase + 80;
  l.ButtonTop = (o.ShowFileName ? 140 : 120) + extra;
  l.CancelLeft = l.Width - ButtonWidth - 10;
  l.OpenFolderLeft = l.Width - 2 * ButtonWidth - 20;
  l.OpenFileLeft = l.OpenFolderLeft - (o.ShowOpenFolder ? ButtonWidth + 10 : 0);
  Layout = l;
}

void TTransferProgress::Notify() {
  if (Visible && view_) view_->Changed(*this);
}

void TTransferProgress::Close() {
  if (Visible && view_) view_->Close(*this);
  Visible = false;
  Destroyed = true;
}

}  // namespace kelvane
