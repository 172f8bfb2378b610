#pragma once
// The transfer progress dialog as a model without a window: its texts, bar, layout and button
// states. TFileTransfer keeps one up to date during Execute; the editor shows it through a
// TTransferProgressView and tests read it directly.
#include <cstdint>
#include <string>

namespace kelvane {

class TFileTransfer;
class TTransferProgress;

// Implemented by the window side. Every call happens on the thread of Execute.
class TTransferProgressView {
 public:
  virtual ~TTransferProgressView() = default;
  virtual void Show(TTransferProgress& model) = 0;     // the dialog appears (modeless)
  virtual void Changed(TTransferProgress& model) = 0;  // any text, bar or button state changed
  virtual void Close(TTransferProgress& model) = 0;    // the dialog is hidden for good
  // The open-file / open-folder buttons: open the path with the desktop's "open" action.
  virtual void OpenPath(const std::string& path) = 0;
};

// Byte counts by thousands: "999 bytes", "1.00 Kb", "1.50 Mb".
std::string TransferSizeText(std::uint32_t n);
// Bytes per second with the same thresholds: " bytes/sec", " Kb/sec", " Mb/sec".
std::string TransferRateText(std::int32_t bytesPerSecond);
// Time left (done > 0: estimated from the elapsed ms) or elapsed (done == 0):
// "30 sec.", "2 minutes", "0h 31" (rounding to nearest, halves to even, at every step).
std::string TransferTimeText(double milliseconds, std::uint64_t done, std::uint64_t total);

enum class TTransferAnimation { aniNone, aniDownload, aniUpload, aniCopy };

class TTransferProgress {
 public:
  explicit TTransferProgress(TFileTransfer& owner) : owner_(owner) {}

  // Texts and bar.
  std::string Caption;
  std::string FileLine;
  std::string ProgressLine;
  std::string RateLine;
  std::string TimeLine;
  std::string ElapsedLine;
  int BarPosition = 0;  // 0..100
  std::string CountPrefix;
  TTransferAnimation Animation = TTransferAnimation::aniDownload;
  bool AnimationRunning = true;

  // Window flags.
  bool Visible = false;   // shown (ShowDialog) and not closed yet
  bool StayOnTop = true;  // created as a stay-on-top window
  bool Topmost = false;   // AlwaysOnTop: made topmost after showing
  bool HasCloseButton = false;
  bool Finished = false;   // the run ended; the dialog waits for its close
  bool Destroyed = false;  // closed and released (open buttons, or the end of the run)

  // Which lines and buttons exist, and their captions / states.
  bool ShowFileLine = true;
  bool ShowTimeLine = false;
  bool ShowElapsedLine = false;
  bool HasCancelButton = true;
  bool HasOpenFileButton = false;
  bool HasOpenFolderButton = false;
  bool OpenFileEnabled = false;
  bool OpenFolderEnabled = false;
  std::string CancelCaption;
  std::string OpenFileCaption;
  std::string OpenFolderCaption;

  // Targets of the open buttons: the last target file and folder of the run.
  std::string LastTargetFile;
  std::string LastTargetFolder;

  // Layout in pixels. The view sets the platform's numbers before the dialog is built.
  int SystemCaptionHeight = 23;
  int ButtonWidth = 75;
  int ButtonHeight = 25;
  struct TLayout {
    int Width = 300, Height = 0;
    int AnimationLeft = 10, AnimationTop = 0;
    int BarLeft = 10, BarTop = 60, BarWidth = 280, BarHeight = 12;
    int FileLineTop = 80, ProgressLineTop = 0, RateLineTop = 0, TimeLineTop = 0, ElapsedLineTop = 0;
    int ButtonTop = 0, CancelLeft = 0, OpenFolderLeft = 0, OpenFileLeft = 0;
  } Layout;

  // True when the user may close the window now (close button allowed, or the run finished).
  bool CanClose() const;
  // The buttons. Cancel fires OnCopyCancel, cancels the run and asks to close; the open buttons
  // open their target through the view, then close and release the dialog.
  void CancelClicked();
  void OpenFileClicked();
  void OpenFolderClicked();
  // A close request from the window (title-bar button): honoured only when CanClose().
  bool RequestClose();

  // Used by TFileTransfer.
  void Build(TTransferProgressView* view);
  void Notify();
  void Close();

 private:
  TFileTransfer& owner_;
  TTransferProgressView* view_ = nullptr;
};

}  // namespace kelvane
