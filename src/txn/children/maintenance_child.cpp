#include "txn/children/maintenance_child.hpp"

#include <algorithm>

namespace holvar::txn::children {

namespace p = holvar::platform;

namespace {

constexpr uint32_t kWindowsDirUnits = 32768;
constexpr uint32_t kCreationFlags =
    p::CREATE_UNICODE_ENVIRONMENT | p::EXTENDED_STARTUPINFO_PRESENT | p::CREATE_NO_WINDOW;
constexpr uint32_t kTerminateCode = 1;
constexpr int64_t kMaxWaitMs = 0xFFFFFFFE;

ChildOutcome failed(uint32_t code) {
    return ChildOutcome{ChildOutcome::Kind::failed, code};
}
ChildOutcome failed(const p::Error& e) {
    return failed(e.win32);
}

bool has_nul(std::u16string_view text) {
    return text.find(u'\0') != std::u16string_view::npos;
}

}  // namespace

std::u16string quote_command_line_element(std::u16string_view element) {
    if (!element.empty() && element.find_first_of(u" \t\"") == std::u16string_view::npos)
        return std::u16string(element);
    std::u16string out = u"\"";
    size_t backslashes = 0;
    for (char16_t c : element) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            out.append(backslashes * 2 + 1, u'\\');
        } else {
            out.append(backslashes, u'\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, u'\\');
    out.push_back(u'"');
    return out;
}

std::u16string build_command_line(std::u16string_view exe,
                                  const std::vector<std::u16string>& args) {
    std::u16string line = quote_command_line_element(exe);
    for (const auto& arg : args) {
        line.push_back(u' ');
        line += quote_command_line_element(arg);
    }
    return line;
}

ChildOutcome run_maintenance_child(p::Os& os, std::u16string_view exe,
                                   const std::vector<std::u16string>& args,
                                   std::u16string_view workdir, p::Duration limit) {
    if (has_nul(exe) || has_nul(workdir)) return failed(p::win32::invalid_parameter);
    for (const auto& arg : args)
        if (has_nul(arg)) return failed(p::win32::invalid_parameter);
    p::CreateProcessRequest request;
    request.application_name = std::u16string(exe);
    request.command_line = build_command_line(exe, args);
    request.current_directory = std::u16string(workdir);
    request.creation_flags = kCreationFlags;
    // Exactly one variable: the child never sees the engine's environment.
    auto windows = os.processes.get_system_windows_directory(kWindowsDirUnits);
    if (!windows) return failed(windows.error());
    if (windows->length == 0 || windows->length > kWindowsDirUnits - 1)
        return failed(p::win32::insufficient_buffer);
    request.environment = u"SystemRoot=" + windows->text;
    request.environment.push_back(u'\0');
    request.environment.push_back(u'\0');

    // Declared first, closed last: closing it ends whatever the child left running.
    auto job = os.processes.create_job_object();
    if (!job) return failed(job.error());
    if (auto st = os.processes.set_job_extended_limit(*job, p::JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE);
        !st)
        return failed(st.error());
    request.job_list.push_back(&*job);
    auto child = os.processes.create_process(request);
    if (!child) return failed(child.error());

    const auto limit_ms = std::chrono::duration_cast<std::chrono::milliseconds>(limit).count();
    const auto wait_ms = static_cast<uint32_t>(std::clamp<int64_t>(limit_ms, 0, kMaxWaitMs));
    auto waited = os.sync.wait_for_single_object(child->process, wait_ms);
    if (!waited) return failed(waited.error());
    if (*waited == p::WAIT_OBJECT_0) {
        auto code = os.processes.get_exit_code_process(child->process);
        if (!code) return failed(code.error());
        return ChildOutcome{ChildOutcome::Kind::exited, *code};
    }
    if (*waited != p::WAIT_TIMEOUT) return failed(p::win32::invalid_handle);
    if (auto st = os.processes.terminate_job_object(*job, kTerminateCode); !st)
        return failed(st.error());
    auto reaped = os.sync.wait_for_single_object(child->process, p::INFINITE);
    if (!reaped) return failed(reaped.error());
    if (*reaped != p::WAIT_OBJECT_0) return failed(p::win32::invalid_handle);
    return ChildOutcome{ChildOutcome::Kind::timed_out, 0};
}

outcome::MaintenanceEntry maintenance_entry(std::string_view command, const ChildOutcome& outcome) {
    outcome::MaintenanceEntry entry;
    entry.command = std::string(command);
    switch (outcome.kind) {
        case ChildOutcome::Kind::exited:
            entry.exit = static_cast<int32_t>(outcome.code);
            break;
        case ChildOutcome::Kind::timed_out:
            entry.error = "timeout";
            break;
        case ChildOutcome::Kind::failed:
            entry.error = "spawn_failed:" + std::to_string(outcome.code);
            break;
    }
    return entry;
}

}  // namespace holvar::txn::children
