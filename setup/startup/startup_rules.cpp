#include "setup/startup/startup_rules.h"

#include "setup/startup/setup_state.h"

namespace setup {
namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// The integer value of a decimal text, as the runtime's wide atoi reads it:
// leading blanks, an optional sign, digits up to the first other character.
uintptr_t WindowFromText(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  uint64_t v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    v = v * 10 + (s[i] - u'0');
    if (v > 0xFFFFFFFFull) return 0;  // out of range: no window
  }
  // Window handles are 32-bit values; a 64-bit process widens one as it
  // widens the runtime's int, sign-extended.
  const uint32_t low = static_cast<uint32_t>(negative ? 0 - v : v);
  return static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(low)));
}

}  // namespace

int LanguageFromLocale(uint32_t lcid) {
  switch (lcid) {
    case 1028: return kChineseTraditional;
    case 1041: return kJapanese;
    case 2052: return kChineseSimplified;
    default: return kEnglish;
  }
}

int LanguageFromSwitch(std::u16string_view text) {
  if (EqualsNoCase(text, u"-en")) return kEnglish;
  if (EqualsNoCase(text, u"-gb")) return kChineseSimplified;
  if (EqualsNoCase(text, u"-big")) return kChineseTraditional;
  if (EqualsNoCase(text, u"-jp")) return kJapanese;
  return 0;
}

int LanguageFromHeader(int32_t defaultLanguage, int current) {
  switch (defaultLanguage) {
    case 1: return kChineseSimplified;
    case 2: return kChineseTraditional;
    case 3: return kEnglish;
    case 4: return kJapanese;
    default: return current;
  }
}

StartupPlan PlanStartup(const package::MarkerPair& marker, const std::vector<std::u16string>& args,
                        int systemLanguage) {
  using Action = StartupPlan::Action;
  const package::Role role = package::RoleOfMarker(marker);
  StartupPlan plan;
  if (args.size() <= 1) {
    plan.action = role == package::Role::Uninstaller     ? Action::RelaunchUninstaller
                  : role == package::Role::UpdatePackage ? Action::RelaunchUpdate
                                                         : Action::Wizard;
    return plan;
  }
  if (role == package::Role::UpdatePackage) {
    plan.action = Action::UpdateRun;
    plan.folder = args[1];
    return plan;
  }
  if (args[1] == u"-d") {  // case-sensitive
    plan.controllerWindow = args.size() > 3 ? WindowFromText(args[3]) : 0;
    if (plan.controllerWindow == 0) {
      plan.action = Action::DrivenNoWindow;
      return plan;
    }
    plan.action = Action::Driven;
    plan.language = args.size() >= 5 ? LanguageFromSwitch(args[4]) : 0;
    if (plan.language == 0) plan.language = systemLanguage;
    if (args.size() == 6) {
      plan.hasDestination = true;
      plan.folder = args[5];
    }
    return plan;
  }
  plan.action = Action::Uninstall;
  plan.folder = args[1];
  return plan;
}

}  // namespace setup
