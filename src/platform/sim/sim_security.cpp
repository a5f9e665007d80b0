// GetSecurityInfo on the simulated machine.
#include "platform/sim/sim_calls.hpp"

namespace holvar::sim {

using namespace platform;

// The requested parts of an object's descriptor, self-relative, as the real
// call returns them (the handle needs READ_CONTROL).
Result<SecurityDescriptor> sim_get_security_info(Caller& c, const Handle& h, uint32_t object_type,
                                                 uint32_t security_info) {
    HandleObj* obj = find_handle(c, h);
    if (obj == nullptr) return win32_error(win32::invalid_handle);
    if (object_type != SE_FILE_OBJECT || obj->type != HandleType::file)
        return win32_error(win32::invalid_parameter);
    if (!(obj->access & READ_CONTROL)) return win32_error(win32::access_denied);
    const Node& n = c.s.live.nodes.at(obj->node);
    SecurityParts parts;
    if (security_info & OWNER_SECURITY_INFORMATION) parts.owner = n.owner;
    if (security_info & GROUP_SECURITY_INFORMATION) parts.group = n.group;
    if (security_info & DACL_SECURITY_INFORMATION) {
        parts.dacl_present = true;
        parts.dacl = n.dacl;
        parts.dacl_protected = n.dacl_protected;
    }
    return encode_security_descriptor(parts);
}

}  // namespace holvar::sim
