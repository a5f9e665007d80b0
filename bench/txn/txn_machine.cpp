#include "txn_machine.hpp"

#include <thread>

#include "heap_meter.hpp"
#include "installer/entry.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/unicode.hpp"
#include "platform/win_path.hpp"

namespace holvar::bench {

namespace p = platform;

namespace {

const std::u16string kDiagnostics = kParent + u"\\Holvar-Install-Diagnostics";
constexpr size_t kFileBytes = 128;

std::u16string decimal(size_t v) {
    std::string text = std::to_string(v);
    return std::u16string(text.begin(), text.end());
}

std::vector<uint8_t> bytes_of(std::string text, size_t size = 0) {
    if (text.size() < size) text.resize(size, '.');
    return {text.begin(), text.end()};
}

// The folder of module `i`, relative to the payload.
std::u16string module_folder(size_t i, const PayloadShape& shape) {
    std::u16string folder = u"lib";
    if (!shape.deep) return folder;
    folder += u"\\x64\\runtime\\modules";
    // Digits of i / 10, most significant first, as many as the largest needs.
    size_t leaves = (shape.files + 9) / 10;
    std::u16string digits;
    for (size_t v = i / 10, width = leaves - 1; width != 0; v /= 10, width /= 10)
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    for (char16_t d : digits) folder += std::u16string(u"\\d") + d;
    return folder;
}

std::u16string module_name(size_t i, const PayloadShape& shape, int version) {
    bool retired_later = version == 1 && i >= shape.files / 2;
    return (retired_later ? u"old-module-" : u"module-") + decimal(i) + u".dll";
}

std::string service_image(int version) {
    return std::string(sim::kProgramMarker) +
           R"({"kind":"service","start_pending_ms":200,"label":"v)" + std::to_string(version) +
           "\"}";
}

}  // namespace

std::u16string stage_dir(const std::string& txid) {
    return kParent + u"\\.Holvar-upgrade-" + p::ascii_to_utf16(txid);
}

TxnMachine::TxnMachine() : machine_(sim::Machine::fresh()) {
    (void)machine_->make_directory(kDiagnostics, sim::administrators_sid());
}

bool TxnMachine::ensure_directory(const std::u16string& path) {
    // Modules come in folder order: a folder made once is not looked up again.
    for (const std::u16string& made : made_)
        if (made == path) return true;
    if (!machine_->exists(path)) {
        auto parent = p::parent_path(path);
        if (parent && !ensure_directory(*parent)) return false;
        if (!machine_->make_directory(path, sim::administrators_sid())) return false;
    }
    made_.push_back(path);
    if (made_.size() > 16) made_.erase(made_.begin());
    return true;
}

bool TxnMachine::stage_engine(const std::string& txid) {
    const p::Sid admins = sim::administrators_sid();
    std::u16string dir = stage_dir(txid);
    return machine_->make_directory(dir, admins) &&
           machine_->write_file(dir + u"\\holvar-service-install.exe", bytes_of("MZ"), admins);
}

bool TxnMachine::stage(const std::string& txid, const PayloadShape& shape, int version) {
    const p::Sid admins = sim::administrators_sid();
    if (!stage_engine(txid)) return false;
    std::u16string payload = stage_dir(txid) + u"\\payload";
    made_.clear();
    if (!ensure_directory(payload + u"\\resources")) return false;
    if (!machine_->write_file(payload + u"\\resources\\holvar-service.exe",
                              bytes_of(service_image(version)), admins) ||
        !machine_->write_file(payload + u"\\resources\\holvar-service-install.exe",
                              bytes_of("MZ engine v" + std::to_string(version)), admins))
        return false;
    std::vector<uint8_t> contents =
        bytes_of("module v" + std::to_string(version) + " ", kFileBytes);
    for (size_t i = 0; i < shape.files; ++i) {
        std::u16string folder = payload + u"\\" + module_folder(i, shape);
        if (!ensure_directory(folder)) return false;
        if (!machine_->write_file(folder + u"\\" + module_name(i, shape, version), contents,
                                  admins))
            return false;
    }
    return true;
}

RunResult TxnMachine::run(const std::string& txid, const std::vector<std::u16string>& args,
                          uint64_t crash_after_renames) {
    RunResult result;
    std::u16string exe = stage_dir(txid) + u"\\holvar-service-install.exe";
    std::vector<std::u16string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    uint32_t pid = 0;
    {
        UncountedScope uncounted;
        pid = machine_->spawn_process(exe, sim::admin_token());
    }
    {
        std::unique_ptr<sim::ProcessOs> process;
        std::unique_ptr<PhaseCounter> files;
        std::unique_ptr<ClockCounter> clock;
        {
            UncountedScope uncounted;
            process = std::make_unique<sim::ProcessOs>(*machine_, pid);
            files = std::make_unique<PhaseCounter>(process->os().files, *machine_, kRoot,
                                                   stage_dir(txid), result.counts);
            files->crash_after_placed_renames(crash_after_renames);
            clock = std::make_unique<ClockCounter>(process->os().clock, result.counts);
        }
        p::Os& inner = process->os();
        p::Os os{*files,         inner.security,        inner.sync,
                 *clock,         inner.processes,       inner.services,
                 inner.registry, inner.restart_manager, inner.pipes};
        // On a thread of its own, as the engine runs in a process of its own:
        // what it keeps per thread (the journal's write buffer) starts empty
        // and is counted, whatever earlier runs on this thread left behind.
        std::thread engine([&] {
            const int64_t base = HeapMeter::live();
            HeapMeter::reset_peak();
            try {
                result.exit_code = installer::run_engine(os, argv);
            } catch (const sim::CrashInjected&) {
                result.crashed = true;
            }
            result.peak_heap = HeapMeter::peak() - base;
        });
        engine.join();
        files->finish();
        UncountedScope uncounted;
        files.reset();
        clock.reset();
        process.reset();
    }
    if (!result.crashed) machine_->exit_process(pid, static_cast<uint32_t>(result.exit_code));
    return result;
}

void TxnMachine::crash_and_reboot() {
    machine_->crash();
    machine_->reboot();
}

}  // namespace holvar::bench
