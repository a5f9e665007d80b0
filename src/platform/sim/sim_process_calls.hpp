// The Processes and token calls as the simulated machine answers them, one
// function per call (sim_processes_calls.cpp, sim_tokens.cpp, sim_jobs.cpp).
#pragma once

#include <string>

#include "platform/os.hpp"
#include "platform/sim/call_support.hpp"

namespace holvar::sim {

using platform::Handle;
using platform::Result;
using platform::Status;

// sim_processes_calls.cpp
Result<Handle> sim_create_toolhelp32_snapshot(Caller& c, uint32_t flags, uint32_t pid);
Result<platform::ProcessEntry32> sim_process32_next(Caller& c, const Handle& h, bool first);
Result<Handle> sim_open_process(Caller& c, uint32_t access, uint32_t pid);
Result<std::u16string> sim_query_full_process_image_name(Caller& c, const Handle& h, uint32_t flags,
                                                         uint32_t units);
Status sim_terminate_process(Caller& c, const Handle& h, uint32_t exit_code);
Result<uint32_t> sim_get_exit_code_process(Caller& c, const Handle& h);
Result<platform::SizedText> sim_get_system_windows_directory(Caller& c, uint32_t units);
// WaitForSingleObject on a process or thread handle (sim_sync.cpp hands these over).
Result<uint32_t> sim_wait_for_process_handle(Caller& c, const HandleObj& h, uint32_t timeout_ms);

// sim_jobs.cpp
Result<Handle> sim_create_job_object(Caller& c);
Status sim_set_job_extended_limit(Caller& c, const Handle& job, uint32_t limit_flags);
Status sim_terminate_job_object(Caller& c, const Handle& job, uint32_t exit_code);
Result<platform::CreatedProcess> sim_create_process(Caller& c,
                                                    const platform::CreateProcessRequest& r);

// sim_tokens.cpp
Result<Handle> sim_open_process_token(Caller& c, const Handle* process, uint32_t access);
Result<platform::TokenInformation> sim_get_token_information(Caller& c, const Handle& token,
                                                             uint32_t info_class,
                                                             uint32_t buffer_bytes);
Result<uint64_t> sim_lookup_privilege_value(Caller& c, const std::u16string& name);
Result<uint32_t> sim_adjust_token_privileges(Caller& c, const Handle& token, uint64_t luid,
                                             uint32_t attributes);

// sim_pipes.cpp: CreateFileW of "\\.\pipe\<name>" (`name` after the prefix).
Result<Handle> sim_open_pipe(Caller& c, const std::u16string& name, uint32_t access,
                             uint32_t flags);

// What a process may do to another: the rights of `desired` that OpenProcess grants.
bool process_access_allowed(const Machine::State& s, uint32_t caller, uint32_t target,
                            uint32_t desired);

}  // namespace holvar::sim
