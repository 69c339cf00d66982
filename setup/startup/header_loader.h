#pragma once
// Loads the package header into the Setup state with the checks and the
// derived fields of the setup program's reader; the system look-ups come in
// through an interface so the rules can run anywhere.
#include "setup/package/package_header.h"
#include "setup/startup/setup_state.h"

namespace setup {

class HeaderEnvironment {
 public:
  virtual ~HeaderEnvironment() = default;
  // Program Files base for the default destination ("" when unknown).
  virtual std::u16string ProgramFilesBase(bool allUsers) = 0;
  // Programs menu folder (all users or the user's) without trailing
  // backslash; false when it cannot be resolved.
  virtual bool ProgramsFolder(bool allUsers, std::u16string& folder) = 0;
  // Names of the sub-folders of `folder`; false when it cannot be listed.
  virtual bool SubFolders(const std::u16string& folder, std::vector<std::u16string>& names) = 0;
  // Called when the server-address page will be needed.
  virtual void RegisterAddressControl() {}
};

// Reads from `source` positioned at the header offset. False when the package
// is unusable. On success the state's payload offset is headerOffset + bytes.
bool LoadPackageHeader(package::ByteSource& source, uint64_t headerOffset, SetupState& state,
                       HeaderEnvironment& env);

}  // namespace setup
