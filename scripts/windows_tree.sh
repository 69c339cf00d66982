# Sourced: sets `tree` to the Windows build tree whose programs this machine
# can run under Wine, and `tree_note` to one line saying which and why. The
# product is the 32-bit program of build/windows; where 32-bit programs cannot
# run, build/win64 has the same sources built for x86_64.
if vc_why=$(bash "$root/scripts/can_run_32bit.sh" -v); then
  tree=$root/build/windows
  tree_note="the 32-bit setup.exe (build/windows) under 32-bit Wine: $vc_why"
else
  tree=$root/build/win64
  tree_note="the 64-bit build of the same sources (build/win64) under 64-bit Wine: $vc_why"
fi
