#pragma once
// The wizard frame: twelve page slots, the header band, the three buttons and
// the moves between pages. Everything here runs on the user-interface thread
// except the header and button updates the run thread makes when it ends.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "setup/wizard/page_flow.h"
#include "setup/wizard/run_gate.h"

namespace setup {

// What the wizard asks of the online-install client.
class OnlineClientLink {
 public:
  virtual ~OnlineClientLink() = default;
  virtual uint64_t TotalSize() = 0;
  virtual uint64_t DownloadedBytes() = 0;
  virtual std::u16string FormatDownloadSize(uint64_t bytes) = 0;
  virtual void SetupColumns(HWND list) = 0;
  virtual void Start(const std::u16string& productCode, const std::u16string& servers, int serverListForm) = 0;
  virtual TIMERPROC ProgressTimer() = 0;
  // On message 0x4C8, whatever its parameters: runs the client's queued tasks.
  virtual void RunPostedTasks() = 0;
  virtual void Log(const std::string& line) = 0;
};

struct PageSlot {
  bool enabled = false;
  int32_t kind = -1;
  HWND window = nullptr;
};

// Frame control ids.
namespace frame_id {
inline constexpr int kBack = 1002, kNext = 1003, kCancel = 1004, kTitle = 1005, kSubtitle = 1006,
                     kHeaderBand = 1007, kBrand = 1008, kInnerArea = 1010, kWholeBody = 1011;
}

// Sent by the run threads to end their page: WM_COMMAND with Next in the low
// word and these notification codes.
inline constexpr WORD kInstallDoneCode = 0xFFFE, kUninstallDoneCode = 0;
inline constexpr UINT kOnlineClientMessage = WM_USER + 200;
// Posted by the progress page's run when it ends; the frame joins it.
inline constexpr UINT kRunEndedMessage = WM_APP + 1;

struct WizardContext {
  HWND frame = nullptr;
  HWND initWindow = nullptr;
  std::array<PageSlot, kPageSlots> slots;
  int current = 0;
  HFONT titleFont = nullptr;  // header title, bold -12
  HFONT bigFont = nullptr;    // titles of the whole-body pages, bold -15
  std::u16string headerTitle, headerSubtitle;
  bool completeDelete = false;
  std::vector<char16_t> licence;
  bool errorShown = false;
  OnlineClientLink* online = nullptr;
  bool onlineConnected = false;
  // The progress page's run, until the frame has joined it; the user's
  // confirmed cancel, read by the run at its safe points, where it also waits
  // while the question stands.
  HANDLE runThread = nullptr;
  std::atomic<bool> runOk{false}, stopRun{false};
  RunGate quitQuestion;
};

WizardContext& Wizard();

// Runs the frame (template 214) modally over the enabled `pages`.
INT_PTR RunWizard(const PageSet& pages);

// The window of the created page of `kind`, or null.
HWND FindPageWindow(int kind);

// Sets the frame for the page just shown: buttons, header texts, page texts.
void EnterPage(int slot);

// Header texts and a repaint of the header band.
void SetHeader(const std::u16string& title, const std::u16string& subtitle);

// The frame's caption in the current language.
void SetFrameCaption();

// The online-install client's error box; ends the wizard.
void ShowErrorMsg(int errorCode, bool duringDownload);

// Starts the install or uninstall thread of the progress page.
void StartRunThread();
// The end of a run that stopped: "Installation Aborted" (or the uninstall's),
// Cancel enabled; the wizard stays on the page shown.
void ShowRunAborted();

// On the frame's thread, when the run has ended: joins it, then the page's
// end state (done, aborted, or after a confirmed cancel the wizard ends).
void RunThreadEnded(HWND frame);

}  // namespace setup
