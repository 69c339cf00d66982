#pragma once
// The page procedures of the wizard and the page operations the frame and the
// run threads call.
#include <windows.h>

#include <cstdint>
#include <string>

namespace setup {

INT_PTR CALLBACK LanguagePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK WelcomePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK LicencePageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK LocationPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ProgramMenuPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK TasksPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ReadyPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK UninstallPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK ProgressPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK DownloadPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK FinishPageProc(HWND, UINT, WPARAM, LPARAM);
INT_PTR CALLBACK InitWindowProc(HWND, UINT, WPARAM, LPARAM);

// Page entries: the page's own texts and state when the frame shows it.
void EnterLanguagePage(HWND page);
void EnterLicencePage(HWND page);
void EnterLocationPage(HWND page);
void EnterProgramMenuPage(HWND page);
void EnterTasksPage(HWND page);
void EnterReadyPage(HWND page);
void EnterProgressPage(HWND page);
void EnterDownloadPage(HWND page);
void EnterFinishPage(HWND page);

// Location page: validity of `path` (refreshes the available-space line).
bool FolderIsValid(HWND page, const std::u16string& path);
// Licence page: the current language's licence into the wizard's buffer.
bool LoadLicence();
// Tasks page: the server address field (at most 64 characters); false when empty.
bool ReadServerAddress(std::u16string& address);
// The online client's file list is in: the pages that wait for it
// (WaitsForFileList) go on.
void OnlineClientConnected();
// Language page: the choice in place of the connection notice.
void LanguagePageFileListIn(HWND page);
// Location page: the space required from the list; when `shown`, Next as the
// folder allows.
void LocationPageFileListIn(HWND page, bool shown);

// Control ids the frame reads.
namespace page_id {
inline constexpr int kLicenceAccept = 1020, kFolderField = 1024, kServerAddress = 1065, kRunCheck = 1066;
}

}  // namespace setup
