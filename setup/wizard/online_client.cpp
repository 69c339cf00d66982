#include "setup/wizard/online_client.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "base/utf16.h"
#include "setup/install/install_run.h"
#include "setup/install/install_run_lines.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/download_start.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/progress_surface.h"
#include "setup/wizard/wizard_controls.h"
#include "setup/wizard/wizard_frame.h"
#include "setup/wizard/wizard_pages.h"
#include "update/download_speed.h"
#include "update/local_path.h"
#include "update/main_thread_queue.h"
#include "update/update_install.h"
#include "update/update_log.h"

namespace setup {
namespace {

constexpr int kList = 1089, kBar = 1090, kSpeed = 1091, kSize = 1092, kPercent = 1093;
constexpr int kFolderField = 1024;

std::u16string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", value);
  return std::u16string(text, text + std::strlen(text));
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The online run's closing lines also go to the download page's status text.
class DownloadSurface : public ProgressSurface {
 public:
  explicit DownloadSurface(HWND frame) : ProgressSurface(frame) {}
  void DetailLine(uint16_t key, std::u16string_view argument) override {
    ProgressSurface::DetailLine(key, argument);
    if (!ShownOnDownloadPage(key)) return;
    if (HWND page = FindPageWindow(10)) SetControlText(page, kSpeed, FormattedText(key, {argument}));
  }
};

class WizardOnlineClient final : public OnlineClientLink,
                                 public update::UpdateInstallHost,
                                 private DownloadStartHost {
 public:
  WizardOnlineClient()
      : m_log(ProgramFolder(), "setup", GetCurrentProcessId()),
        m_client(*this, TemporaryFolder(), &m_log) {}

  static WizardOnlineClient* s_instance;

  // --- OnlineClientLink ---
  uint64_t TotalSize() override { return m_client.TotalSize(); }
  uint64_t DownloadedBytes() override { return m_client.DownloadedBytes(); }
  std::u16string FormatDownloadSize(uint64_t bytes) override { return Ascii(update::FormatSize(bytes)); }
  void SetupColumns(HWND list) override {
    m_list = list;
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageW(list, LVM_DELETECOLUMN, 0, 0)) {
    }
    const wchar_t* captions[] = {L"\u6587\u4EF6\u540D", L"\u5927\u5C0F", L"\u8FDB\u5EA6"};
    const int widths[] = {300, 65, 60};
    for (int i = 0; i < 3; ++i) {
      LVCOLUMNW c = {};
      c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
      c.pszText = const_cast<wchar_t*>(captions[i]);
      c.cx = widths[i];
      c.iSubItem = i;
      SendMessageW(list, LVM_INSERTCOLUMNW, WPARAM(i), reinterpret_cast<LPARAM>(&c));
    }
  }
  void Start(const std::u16string& productCode, const std::u16string& servers, int serverListForm) override {
    m_client.SetProductNumber(productCode);
    if (serverListForm != 0) {  // the list names address servers
      m_client.SetAddressServerList(servers);
      return;
    }
    m_client.SetServerList(servers);
    m_client.ConnectUpdateSrv();
  }
  TIMERPROC ProgressTimer() override { return &PageTimer; }
  void RunPostedTasks() override { m_posted.RunAll(); }
  void Log(const std::string& line) override { m_log.Write(line); }

  // --- UpdateInstallHost ---
  // The message only wakes the wizard thread; the task waits in the queue
  // (also when the post fails, until the next one).
  void PostToMain(std::function<void()> task) override {
    m_posted.Push(std::move(task));
    PostMessageW(Wizard().frame, kOnlineClientMessage, 0, 0);
  }
  void StartTimer(int id, unsigned periodMs) override {
    SetTimer(Wizard().frame, UINT_PTR(id), periodMs, &FrameTimer);
  }
  void StopTimer(int id) override {
    if (Wizard().frame) KillTimer(Wizard().frame, UINT_PTR(id));
  }
  void ShowErrorMsg(int code, int downloading) override { setup::ShowErrorMsg(code, downloading != 0); }
  void FileListLoaded(bool firstTime) override {
    if (firstTime) FillRows();
  }
  void OnlineClientConnected() override { setup::OnlineClientConnected(); }
  void EntryChanged(const update::DownloadEntry& e) override {
    HWND page = FindPageWindow(10);
    if (!page || !m_list) return;
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = LPARAM(e.info.nFileID);  // rows are linked by file id
    const int row = int(SendMessageW(m_list, LVM_FINDITEMW, WPARAM(-1), reinterpret_cast<LPARAM>(&find)));
    if (row >= 0) {
      std::wstring text = vx::ToWide(Percent(e.progress));
      LVITEMW cell = {};
      cell.iSubItem = 2;
      cell.pszText = text.data();
      SendMessageW(m_list, LVM_SETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&cell));
    }
    ShowTotals(page);
  }
  void DownloadComplete() override {
    KillTimer(FindPageWindow(4), kDownloadSpeedTimer);
    if (HWND page = FindPageWindow(10)) {
      ShowTotals(page);
      SendDlgItemMessageW(page, kBar, PBM_SETPOS, 100, 0);
    }
    FillInstalledFiles();
    DownloadSurface surface(Wizard().frame);
    const bool installed = RunInstallSequence(0, true, surface);
    surface.ShowPending();
    if (!installed) {
      ShowRunAborted();  // the wizard stays on the download page
      return;
    }
    SendMessageW(Wizard().frame, WM_COMMAND, MAKEWPARAM(frame_id::kNext, kInstallDoneCode), 0);
  }
  void Trace(const std::string&) override {}  // the trace hook keeps nothing

 private:
  static std::string ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    const size_t slash = p.find_last_of(L'\\');
    return vx::Utf16ToUtf8(vx::FromWide(slash == std::wstring::npos ? p : p.substr(0, slash)));
  }
  static vx::FilePath TemporaryFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return vx::FilePath(temp) / L"UpdateInstall" / std::to_wstring(GetCurrentProcessId());
  }
  static void CALLBACK FrameTimer(HWND, UINT, UINT_PTR id, DWORD) {
    if (s_instance) s_instance->m_client.OnTimer(int(id));
  }
  static void CALLBACK PageTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    if (s_instance) s_instance->OnPageTimer(window, id);
  }

  // The download page's timers run on the destination page's window.
  void OnPageTimer(HWND window, UINT_PTR id) {
    m_timerWindow = window;
    OnDownloadPageTimer(*this, unsigned(id));
  }

  // --- DownloadStartHost ---
  bool FileListIn() override { return Wizard().onlineConnected; }
  bool PrepareInstallFolder() override {
    wchar_t folder[261] = {};
    GetDlgItemTextW(m_timerWindow, kFolderField, folder, 260);
    m_client.SetInstallDirectory(vx::FromWide(folder));
    if (!m_client.ReloadFileList()) return false;  // reported
    m_client.CreateDirectories();
    FillInstalledFiles();
    return true;
  }
  void StartPageTimer(unsigned id, unsigned periodMs) override { SetTimer(m_timerWindow, id, periodMs, &PageTimer); }
  void StopPageTimer(unsigned id) override { KillTimer(m_timerWindow, id); }
  void StartDownload() override { m_client.StartDownload(5, 5); }
  void ShowSpeed() override {
    const std::string speed = m_client.SpeedTick();
    HWND page = FindPageWindow(10);
    if (page && !speed.empty()) SetControlText(page, kSpeed, FormattedText(764, {Ascii(speed)}));
  }

  void FillRows() {
    if (!m_list) return;
    SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
    int row = 0;
    const update::OnlineFileList& files = m_client.Files();
    for (int32_t id : files.m_lstNeedDownloadFiles) {
      auto it = files.m_mapFileInfos.find(id);
      if (it == files.m_mapFileInfos.end()) continue;
      std::wstring key = vx::ToWide(it->second.key);
      std::wstring size = vx::ToWide(Ascii(update::FormatSize(uint64_t(it->second.info.size))));
      std::wstring zero = L"0.0%";
      LVITEMW item = {};
      item.mask = LVIF_TEXT | LVIF_PARAM;
      item.iItem = row;
      item.pszText = key.data();
      item.lParam = LPARAM(id);
      const int at = int(SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
      LVITEMW cell = {};
      cell.iSubItem = 1;
      cell.pszText = size.data();
      SendMessageW(m_list, LVM_SETITEMTEXTW, WPARAM(at), reinterpret_cast<LPARAM>(&cell));
      cell.iSubItem = 2;
      cell.pszText = zero.data();
      SendMessageW(m_list, LVM_SETITEMTEXTW, WPARAM(at), reinterpret_cast<LPARAM>(&cell));
      ++row;
    }
  }

  // The files the uninstaller removes.
  void FillInstalledFiles() {
    SetupState& s = State();
    s.InstalledFiles = update::InstalledFileKeys(m_client.Files(), m_client.FileListCopyKey());
    s.FileCount = uint32_t(s.InstalledFiles.size());
  }

  void ShowTotals(HWND page) {
    const uint64_t downloaded = m_client.DownloadedBytes(), total = m_client.TotalSize();
    SetControlText(page, kSize, FormattedText(768, {FormatDownloadSize(downloaded), FormatDownloadSize(total)}));
    const double share = total > 0 ? double(downloaded) * 100.0 / double(total) : 0.0;
    SetControlText(page, kPercent, Percent(share));
    SendDlgItemMessageW(page, kBar, PBM_SETPOS, WPARAM(int(share)), 0);
  }

  update::MainThreadQueue m_posted;
  update::FileUpdateLog m_log;
  update::UpdateInstall m_client;
  HWND m_list = nullptr;
  HWND m_timerWindow = nullptr;
};

WizardOnlineClient* WizardOnlineClient::s_instance = nullptr;

}  // namespace

void CreateOnlineClient() {
  if (WizardOnlineClient::s_instance) return;
  // Lives until the process ends.
  WizardOnlineClient::s_instance = new WizardOnlineClient();
  Wizard().online = WizardOnlineClient::s_instance;
}

}  // namespace setup
