#include "setup/integration/component_group.h"

#include <windows.h>

#include "base/utf16.h"
#include "setup/integration/associations.h"
#include "setup/integration/component_registration.h"
#include "setup/integration/config_files.h"
#include "setup/integration/encoder_installer.h"
#include "setup/integration/virtual_printer.h"

namespace setup {
namespace {

bool IsNtPlatform() {
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof v;
  return GetVersionExW(&v) && v.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Runs every step; the group fails when one of them does.
class Group {
 public:
  void operator()(bool stepResult) { m_ok = stepResult && m_ok; }
  bool ok() const { return m_ok; }

 private:
  bool m_ok = true;
};

bool Associate(const SetupState& s, const wchar_t* extension) {
  return RegisterAssociation(extension, vx::ToWide(s.InstallDir));
}

config::ConfigEnvironment AnsiEnvironment(bool withPrompts) {
  config::ConfigEnvironment env;
  env.toAnsi = [](std::u16string_view text) { return vx::Utf16ToAnsi(text); };
  env.isLeadByte = [](unsigned char c) { return IsDBCSLeadByte(c) != 0; };
  if (withPrompts)
    env.onUnreadable = [](std::u16string_view) {
      MessageBoxW(nullptr, L"打开配置文件失败!", L"错误", MB_OK | MB_ICONERROR);
    };
  return env;
}

// The printer, the spooler check and the capture filter, for every package.
void PrinterAndGrabber(SetupState& s, Group& group) {
  group(InstallPrinter(s, kDocumentPrinter));
  if (IsNtPlatform()) group(EnsureSpoolerRunning());
  group(MoveAndRegister(s, L"qrgrabber.ax"));
}

// "V3.0": its player component, ComponentKind 3, its document types and the
// Sample Grabber.
void RegisterV3Components(SetupState& s, Group& group) {
  group(CopyAndRegister(s, L"DavOzodu.vov"));
  s.ComponentKind = 3;
  group(Associate(s, L".smv"));
  group(Associate(s, L".kwb"));
  group(Associate(s, L".vot"));
  group(RegisterSampleGrabber(s));
}

// "V4.0": its player control, ComponentKind 4, its document types and the
// language file (result ignored).
void RegisterV4Components(SetupState& s, Group& group) {
  group(CopyAndRegister(s, L"RunQrplayer.ocx"));
  s.ComponentKind = 4;
  group(Associate(s, L".smvx"));
  group(Associate(s, L".swb"));
  group(Associate(s, L".vot"));
  SetLanguageIni(s);
}

}  // namespace

bool RegisterComponents(SetupState& s) {
  Group group;
  if (s.header.ServerPackage == 0) {
    group(MoveAndRegister(s, L"qrimgoleEx.dll"));
    if (s.PackageKind == u"V3.0")
      RegisterV3Components(s, group);
    else if (s.PackageKind == u"V4.0")
      RegisterV4Components(s, group);
  }
  PrinterAndGrabber(s, group);
  return group.ok();
}

bool RegisterComponentsDriven(SetupState& s) {
  Group group;
  group(RegisterSampleGrabber(s));
  group(MoveAndRegister(s, L"qrimgoleEx.dll"));
  if (s.PackageKind == u"V3.0") {
    RegisterV3Components(s, group);
    group(SetPrivateSpoolFolder(s));
    config::RewriteClientServerAddress(s.InstallDir, s.ServerAddress);
  } else if (s.PackageKind == u"V4.0") {
    RegisterV4Components(s, group);
    RunPrinterInstaller(s);
    RunEncoderInstaller(vx::ToWide(s.InstallDir), kEncoderLimitMs);
  }
  PrinterAndGrabber(s, group);
  return group.ok();
}

void ConfigureInstall(SetupState& s, LocalAddressSource& address) {
  const std::u16string& destination = s.InstallDir;
  if (s.header.ServerPackage != 0) {
    config::ConfigureServerFiles(destination, s.PackageKind, address.LocalAddress(), AnsiEnvironment(true));
    return;
  }
  if (s.ComponentKind == 3) {
    SetPrivateSpoolFolder(s);
  } else if (s.ComponentKind == 4) {
    if (s.AskServerAddress) config::WriteClientLoginAddress(destination, s.ServerAddress, AnsiEnvironment(true));
    RunPrinterInstaller(s);
    RunEncoderInstaller(vx::ToWide(destination), kEncoderLimitMs);
  }
}

}  // namespace setup
