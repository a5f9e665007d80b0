#include "platform/win32/win32_os.hpp"

namespace holvar::win32 {

Win32Os::Win32Os()
    : files_(closer_),
      security_(closer_),
      sync_(closer_),
      processes_(closer_),
      services_(closer_),
      registry_(closer_),
      restart_manager_(closer_),
      pipes_(closer_),
      os_{files_,    security_,        sync_, clock_, processes_, services_,
          registry_, restart_manager_, pipes_} {}

}  // namespace holvar::win32
