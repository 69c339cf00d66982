#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/utf16.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/message_catalogue.h"
#include "setup/wizard/prompts.h"
#include "tests/support/string_table_file.h"

using namespace setup;

namespace {

// Message boxes of this thread, answered with their default button.
struct BoxWatch {
  static inline int boxes = 0;
  static inline std::u16string lastText;
  HHOOK hook = SetWindowsHookExW(WH_CBT, &BoxWatch::OnCbt, nullptr, GetCurrentThreadId());
  BoxWatch() { boxes = 0, lastText.clear(), box = nullptr; }
  ~BoxWatch() { UnhookWindowsHookEx(hook); }

  static inline HWND box = nullptr;

  static LRESULT CALLBACK OnCbt(int code, WPARAM w, LPARAM l) {
    wchar_t cls[16] = {};
    if (code == HCBT_ACTIVATE && GetClassNameW(reinterpret_cast<HWND>(w), cls, 16) && !wcscmp(cls, L"#32770") &&
        box != reinterpret_cast<HWND>(w)) {
      box = reinterpret_cast<HWND>(w);
      ++boxes;
      SetTimer(nullptr, 0, 20, &BoxWatch::Answer);  // once the box is up
    }
    return CallNextHookEx(nullptr, code, w, l);
  }

  // Reads the text and answers as Enter does: the focused button, else the
  // dialog's default.
  static void CALLBACK Answer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    lastText = vx::FromWide(text);
    const LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
    const HWND focus = GetFocus();
    const int id = focus && GetParent(focus) == box ? GetDlgCtrlID(focus)
                   : HIWORD(def) == DC_HASDEFID          ? LOWORD(def)
                                                         : IDOK;
    PostMessageW(box, WM_COMMAND, id, 0);
  }
};

// A window that keeps the last WM_COPYDATA it received.
struct Receiver {
  static inline ULONG_PTR code = ~0u;
  static inline DWORD bytes = 0;
  static inline std::u16string text;
  static inline int count = 0;
  HWND window = nullptr;

  Receiver() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &Receiver::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"StatusReceiver";
    RegisterClassW(&wc);
    window = CreateWindowW(L"StatusReceiver", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    count = 0;
  }
  ~Receiver() { DestroyWindow(window); }
  uintptr_t Handle() const { return reinterpret_cast<uintptr_t>(window); }

  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_COPYDATA) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(l);
      code = data->dwData;
      bytes = data->cbData;
      text = static_cast<const char16_t*>(data->lpData);
      ++count;
      return TRUE;
    }
    return DefWindowProcW(h, m, w, l);
  }
};

}  // namespace

TEST(StringResource, LoadedTextsMatchTheSourceInEveryLanguage) {
  const auto table = testing_support::ReadStringTableFile(VC_STRING_TABLE);
  ASSERT_EQ(table.error, "");
  for (const auto& [id, text] : table.texts) EXPECT_EQ(LoadStringId(id, 1024), text) << id;
  // A sample of keys through the lookup, all four languages.
  for (uint16_t key : {161, 174, 373, 469, 506, 768, 792})
    for (int language = 1; language <= 4; ++language) {
      const std::u16string text = LoadTextIn(key, language, 1024);
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(text, table.texts.at(TextId(key, language)));
    }
  // Missing id: empty. Buffer limit: capacity - 1 characters.
  EXPECT_EQ(LoadStringId(806, 330), u"");
  EXPECT_EQ(LoadStringId(423, 5), u"Prom");
}

TEST(Prompts, MissingCodeShowsNothingAndArgumentFillsTheText) {
  State().Language = kEnglish;
  BoxWatch watch;
  EXPECT_EQ(Prompt(nullptr, 0x50101), 0);
  EXPECT_EQ(PromptWithArgument(nullptr, u"x", 0x70000), 0);
  EXPECT_EQ(BoxWatch::boxes, 0);
  // The default button of 0x40005 is No.
  EXPECT_EQ(PromptWithArgument(nullptr, u"Quorin V4.0", 0x40005), IDNO);
  EXPECT_EQ(BoxWatch::boxes, 1);
  EXPECT_EQ(BoxWatch::lastText, u"Are you sure you want to completely remove Quorin V4.0?");
  State().ProductName = u"Quorin";
  State().header.VersionLabel = u"V4.0";
  State().Language = kChineseSimplified;
  EXPECT_EQ(Prompt(nullptr, 0x100), IDNO);
  EXPECT_EQ(BoxWatch::lastText, u"确实要退出 Quorin V4.0 安装程序吗？");
  State().Language = kEnglish;
}

TEST(StatusReports, CopyDataCarriesCodeAndTerminatedText) {
  State().Language = kEnglish;
  Receiver receiver;
  ReportStatusWithArgument(receiver.Handle(), 0x50003, u"bin\\quorin.exe");
  EXPECT_EQ(Receiver::code, 0x50003u);
  EXPECT_EQ(Receiver::text, u"Copy file: bin\\quorin.exe");
  EXPECT_EQ(Receiver::bytes, Receiver::text.size() * 2 + 2);
  State().Language = kJapanese;
  ReportStatus(receiver.Handle(), 0);
  EXPECT_EQ(Receiver::code, 0u);
  EXPECT_EQ(Receiver::text, u"完了");
  EXPECT_EQ(Receiver::bytes, 6u);
  // Unknown codes, or a code used with the other table, send nothing.
  const int before = Receiver::count;
  ReportStatus(receiver.Handle(), 0x50003);
  ReportStatusWithArgument(receiver.Handle(), 0x50101, u"x");
  ReportStatus(receiver.Handle(), 0x12345);
  EXPECT_EQ(Receiver::count, before);
  State().Language = kEnglish;
}
