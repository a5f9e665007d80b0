// Opening `holvar_service`: the manager handle and the service handle, owned
// together so that both close when the operation is done.
#pragma once

#include "platform/os.hpp"

namespace holvar::txn::scm {

struct OpenedService {
    platform::Handle manager;
    platform::Handle service;
};

// OpenSCManagerW with `manager_access`, then OpenServiceW with
// `service_access`; ERROR_SERVICE_DOES_NOT_EXIST (1060) is how an absent
// service shows.
platform::Result<OpenedService> open_holvar_service(platform::Os& os, uint32_t manager_access,
                                                    uint32_t service_access);

// The name of the service as the SCM calls take it.
const std::u16string& holvar_service_name();

}  // namespace holvar::txn::scm
