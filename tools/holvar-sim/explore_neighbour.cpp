// A hostile neighbour: an ordinary user's process that gets one turn between
// two calls of the engine and does one thing an ordinary user may (the
// simulated machine checks every call against the DACLs and share modes):
// hold a file open, serve a pipe of the service's name, start a program of
// theirs, make a folder, a file, a hard link or a junction, empty a folder
// or put a junction in its place, write a journal of the engine's own
// format where the engine keeps its journal. Each is aimed at an object the
// clean run touches. Whatever it did, the run must end in the old or the new
// installation or an honest refusal, change nothing outside the root and
// its stages (the neighbour's own doings aside), never configure as the
// service or start with the engine's rights a program the user may change,
// and never take a journal the user wrote as its own.
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "explore_checks.hpp"
#include "explore_walks.hpp"
#include "platform/sim/machine_state.hpp"
#include "platform/sim/names.hpp"
#include "platform/sim/programs.hpp"
#include "platform/sim/security_model.hpp"
#include "platform/sim/user_hands.hpp"
#include "platform/win_path.hpp"
#include "printing.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/scm/scm_config.hpp"
#include "wtf8.hpp"

namespace holvar::simtool {
namespace {

namespace p = platform;

const std::u16string kHome = u"C:\\neighbour";
const std::u16string kSystem32 = u"C:\\Windows\\System32";
constexpr sim::NodeId kNeighbourNodes = sim::NodeId{1} << 40;

enum class Action {
    hold,
    serve_pipe,
    start_program,
    make_folder,
    make_file,
    link_to_it,
    link_in_it,
    junction,
    empty_folder,
    replace_folder,
    forge_journal
};

struct ActionRow {
    Action action;
    const char* what;
};

constexpr ActionRow kActions[] = {
    {Action::hold, "holds it open"},
    {Action::serve_pipe, "serves the service's pipe"},
    {Action::start_program, "starts a program of theirs named like it"},
    {Action::make_folder, "makes a folder at or in it"},
    {Action::make_file, "makes a file at or in it"},
    {Action::link_to_it, "makes a hard link to it"},
    {Action::link_in_it, "makes a hard link to a file of theirs at or in it"},
    {Action::junction, "makes a junction into System32 at or in it"},
    {Action::empty_folder, "empties it"},
    {Action::replace_folder, "replaces it by a junction into System32"},
    {Action::forge_journal, "writes a forged journal"},
};

std::vector<uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> program(const std::string& description) {
    return bytes_of(std::string(sim::kProgramMarker) + description);
}

// A name beside `path`'s, or `path` itself when nothing is there.
std::u16string at_or_in(const sim::Machine& m, const std::u16string& path, const char16_t* name) {
    auto info = m.stat(path);
    if (!info) return path;
    return info->kind == sim::NodeKind::directory ? p::join_path(path, name) : path + u"-" + name;
}

class NeighbourWalk : EndChecks {
  public:
    NeighbourWalk(const Scenario& s, const ExploreOptions& o, bool every_target)
        : EndChecks(s, o), every_target_(every_target), rng_(o.seed) {
        r_.scenario = s.name;
        journal_ = p::join_path(p::join_path(s.txn.stage.stage, u"journal"), u"txn.json");
        ids_ignored_ = true;
        restart_may_end_pending_ = true;
    }

    NeighbourResult run() {
        if (!learn_clean_run(nullptr)) return {r_};
        {
            // The run without a neighbour is held to the same rules.
            auto m = s_.base->clone();
            const auto then = outside(*m);
            (void)run_engine_from_stage(*m, s_.txn, s_.txn.args);
            settle(*m);
            check_outside(*m, then, "the clean run");
            check_programs(*m, s_.base->state().next_pid, "the clean run");
        }
        aim();
        const std::vector<uint64_t> sampled =
            sample_points(r_.clean_mutating_calls, o_.crash_points, rng_);
        std::set<uint64_t> turns(sampled.begin(), sampled.end());
        const std::vector<uint64_t> after_journal = journal_turns();
        turns.insert(after_journal.begin(), after_journal.end());
        for (uint64_t k : turns) {
            const bool whole_menu = std::ranges::binary_search(sampled, k);
            for (size_t a = 0; a < std::size(kActions); ++a) {
                if (enough()) return done();
                if (kActions[a].action == Action::forge_journal) {
                    walk(k, kActions[a], journal_);
                } else if (!whole_menu) {
                    continue;
                } else if (every_target_) {
                    for (const auto& target : targets_) walk(k, kActions[a], target);
                } else {
                    walk(k, kActions[a], targets_[(k * std::size(kActions) + a) % targets_.size()]);
                }
            }
            ++n_.turns;
        }
        return done();
    }

  private:
    NeighbourResult done() {
        n_.result = r_;
        return n_;
    }

    // The turns just after the clean run wrote its journal, walked with the
    // forged journal whether sampled or not: one forged at any other turn is
    // overwritten by the engine's next write before anything reads it.
    std::vector<uint64_t> journal_turns() {
        auto m = s_.base->clone();
        const uint64_t start = m->mutating_calls();
        std::vector<uint64_t> turns;
        std::vector<uint8_t> last = m->read_file(journal_).value_or(std::vector<uint8_t>{});
        std::function<void()> look = [&] {
            auto now = m->read_file(journal_).value_or(std::vector<uint8_t>{});
            if (now != last) turns.push_back(m->mutating_calls() - start + 1);
            last = std::move(now);
            m->arm_turn_after(1, look);
        };
        m->arm_turn_after(0, look);
        (void)run_engine_from_stage(*m, s_.txn, s_.txn.args);
        m->arm_turn_after(0, nullptr);
        return turns;
    }

    // What the clean run touches: the root and every name under it in
    // either installation, the stage and its payload, the diagnostics
    // directory.
    void aim() {
        const std::u16string& root = s_.txn.root;
        targets_ = {root, s_.txn.stage.stage, s_.txn.stage.diagnostics};
        std::set<std::u16string> rels;
        for (const auto* view : {&old_, &new_})
            for (const auto& [rel, line] : view->tree) rels.insert(rel);
        for (const auto& rel : rels) targets_.push_back(p::join_path(root, rel));
        const std::u16string payload = p::join_path(s_.txn.stage.stage, u"payload");
        if (auto listed = s_.base->list(payload))
            for (const sim::NodeInfo& n : *listed)
                targets_.push_back(p::join_path(payload, n.name));
    }

    void walk(uint64_t k, const ActionRow& row, const std::u16string& target) {
        ++n_.actions;
        auto m = s_.base->clone();
        bool acted = false;
        std::map<std::u16string, std::string> outside_then;
        m->arm_turn_after(k - 1, [&] {
            // The neighbour's objects are numbered apart: the engine's own
            // keep the ids they have in the clean run, which the views hold.
            sim::NodeId& next = m->state().next_node;
            const sim::NodeId engine_next = next;
            next = kNeighbourNodes;
            acted = act(*m, row.action, target);
            next = engine_next;
            if (acted)
                outside_then = outside(*m);
            else
                m->arm_crash_after(1);  // the rest is the clean run's: no need to finish it
        });
        EngineRun run = run_engine_from_stage(*m, s_.txn, s_.txn.args);
        m->arm_turn_after(0, nullptr);
        if (!acted) return;  // the machine refused it: the clean run, already checked
        ++n_.took_effect;
        settle(*m);
        const std::string where = "before mutating call " + std::to_string(k) + " of " +
                                  std::to_string(r_.clean_mutating_calls) + " the neighbour " +
                                  row.what + ": " + utf16_to_wtf8(target);
        if (row.action == Action::forge_journal) check_forged_journal(*m, where);
        check_end(*m, run.exit_code, s_.txn.command, where, "", true);
        check_outside(*m, outside_then, where);
        check_programs(*m, s_.base->state().next_pid, where);
    }

    // ---- the menu
    bool act(sim::Machine& m, Action action, const std::u16string& target) {
        sim::UserHands hands(m);
        (void)hands.make_directory(kHome);
        const std::u16string name = p::file_name(target).value_or(u"x");
        switch (action) {
            case Action::hold:
                return hands.hold(target, p::FILE_SHARE_READ).has_value();
            case Action::serve_pipe:
                return start(
                    m, hands, kHome + u"\\pipe.exe",
                    R"({"kind":"companion","pipe":"holvar-service-v3","pipe_instances":4})");
            case Action::start_program:
                return start(m, hands, p::join_path(kHome, name),
                             R"({"kind":"client","run_ms":600000})");
            case Action::make_folder:
                return hands.make_directory(at_or_in(m, target, u"neighbour")).has_value();
            case Action::make_file:
                return hands.write_file(at_or_in(m, target, u"neighbour.txt"), bytes_of("mine"))
                    .has_value();
            case Action::link_to_it:
                return hands.make_hard_link(kHome + u"\\second-name", target).has_value();
            case Action::link_in_it: {
                (void)hands.write_file(kHome + u"\\mine.dll", bytes_of("mine"));
                return hands
                    .make_hard_link(at_or_in(m, target, u"neighbour.dll"), kHome + u"\\mine.dll")
                    .has_value();
            }
            case Action::forge_journal:
                return forge(m, hands);
            case Action::junction:
                return hands.make_junction(at_or_in(m, target, u"neighbour"), kSystem32)
                    .has_value();
            case Action::empty_folder:
            case Action::replace_folder: {
                auto info = m.stat(target);
                if (!info || info->kind != sim::NodeKind::directory) return false;
                let_go(m);
                bool emptied = empty(hands, m, target);
                if (action == Action::empty_folder) return emptied;
                if (!hands.rename(target, target + u"-neighbour")) return emptied;
                (void)hands.make_junction(target, kSystem32);
                return true;
            }
        }
        return false;
    }

    // Unfinished, and its rollback configures a program of the user's as the
    // service: the journal the engine wrote so far, when the user may read
    // it, else one made of what anyone can see.
    bool forge(sim::Machine& m, sim::UserHands& hands) {
        const std::u16string image = kHome + u"\\holvar-service.exe";
        if (!hands.write_file(image, program(R"({"kind":"service"})"))) return false;
        namespace j = txn::journal;
        j::Journal forged;
        const std::vector<uint8_t> written =
            hands.read_file(journal_).value_or(std::vector<uint8_t>{});
        if (auto decoded = j::decode_journal(
                std::string_view(reinterpret_cast<const char*>(written.data()), written.size()))) {
            forged = std::move(*decoded);
        } else {
            const uint64_t serial = m.state().volumes.front().serial;
            forged.txid = s_.txn.txid;
            forged.engine_version = std::string(j::engine_version);
            forged.root = {s_.txn.root, serial, std::nullopt};
            forged.stage = {s_.txn.stage.stage, serial, std::nullopt};
            if (auto stage = m.stat(s_.txn.stage.stage))
                forged.stage.file_id = txn::fs::FileId::from_bytes(stage->file_id);
            forged.marks = {j::MarkKind::planned};
        }
        const auto ending = std::ranges::find_if(forged.marks, [](const j::Mark& mark) {
            return mark.kind >= j::MarkKind::committed && mark.kind != j::MarkKind::root_created;
        });
        forged.marks.erase(ending, forged.marks.end());
        forged.scm_before = txn::scm::desired_scm_config(s_.txn.root);
        forged.scm_before->binary_path = u"\"" + image + u"\"";
        forged.service_running_before = true;
        auto text = j::encode_journal(forged);
        if (!text) return false;
        forged_ = bytes_of(*text);
        (void)hands.make_directory(*p::parent_path(journal_));
        return hands.write_file(journal_, forged_).has_value();
    }

    static bool start(sim::Machine& m, sim::UserHands& hands, const std::u16string& image,
                      const std::string& description) {
        if (!hands.write_file(image, program(description))) return false;
        (void)m.spawn_process(image, sim::user_token(), kHome);
        return true;
    }

    // The user's own programs let go of what they hold, as they may.
    static void let_go(sim::Machine& m) {
        std::vector<uint32_t> mine;
        for (const auto& [pid, process] : m.state().processes)
            if (process.alive && process.token.user == sim::user_token().user &&
                !process.token.elevated && process.image.ends_with(u"notepad.exe"))
                mine.push_back(pid);
        for (uint32_t pid : mine) m.exit_process(pid, 0);
    }

    // Whatever of its contents the user may delete: true when any went.
    static bool empty(sim::UserHands& hands, const sim::Machine& m, const std::u16string& dir) {
        auto listed = m.list(dir);
        if (!listed) return false;
        bool any = false;
        for (const sim::NodeInfo& n : *listed) {
            if (n.name == u"." || n.name == u"..") continue;
            const std::u16string path = p::join_path(dir, n.name);
            if (n.kind == sim::NodeKind::directory) any |= empty(hands, m, path);
            any |= hands.remove(path).has_value();
        }
        return any;
    }

    // ---- what the engine must not do
    // A journal the user wrote, still in place, is never acted on: a
    // --recover answers recovery_pending and changes nothing.
    void check_forged_journal(const sim::Machine& m, const std::string& where) {
        if (m.read_file(journal_).value_or(std::vector<uint8_t>{}) != forged_) return;
        auto copy = m.clone();
        const MachineView before = view(*copy);
        const int code = run_engine_from_stage(*copy, s_.txn, recover_args(s_.txn)).exit_code;
        settle(*copy);
        if (!pending(code) || view(*copy) != before)
            violation(where, "",
                      "a --recover took the journal an ordinary user wrote: it ended " +
                          outcome_of_code(code),
                      copy.get());
    }

    // Every object of the volume but the root, the stages beside it and the
    // diagnostics directory: kind, id, a link's target, a file's bytes.
    std::map<std::u16string, std::string> outside(const sim::Machine& m) const {
        std::map<std::u16string, std::string> out;
        collect(m, u"C:\\", out);
        return out;
    }

    void collect(const sim::Machine& m, const std::u16string& dir,
                 std::map<std::u16string, std::string>& out) const {
        auto listed = m.list(dir);
        if (!listed) return;
        const std::u16string parent = p::parent_path(s_.txn.root).value_or(u"");
        for (const sim::NodeInfo& n : *listed) {
            if (n.name == u"." || n.name == u"..") continue;
            const std::u16string path = p::join_path(dir, n.name);
            if (p::paths_equal(path, s_.txn.root) ||
                p::paths_equal(path, s_.txn.stage.diagnostics) ||
                (p::paths_equal(dir, parent) && n.name.starts_with(u".Holvar-upgrade-")))
                continue;
            std::string line = kind_name(n.kind) + " " + file_id_hex(n.file_id) + " " +
                               utf16_to_wtf8(n.reparse_target);
            if (n.kind == sim::NodeKind::file)
                if (auto data = m.read_file(path))
                    line += " " + std::string(data->begin(), data->end());
            out[path] = std::move(line);
            if (n.kind == sim::NodeKind::directory) collect(m, path, out);
        }
    }

    // Nothing outside changed since the neighbour's turn, nor does the next
    // restart change anything there.
    void check_outside(const sim::Machine& m, const std::map<std::u16string, std::string>& then,
                       const std::string& where) {
        auto restarted = m.clone();
        restarted->reboot();
        for (const sim::Machine* now : {&m, static_cast<const sim::Machine*>(restarted.get())}) {
            auto after = outside(*now);
            if (after == then) continue;
            std::string what;
            for (const auto& [path, line] : then)
                if (!after.contains(path) || after.at(path) != line) {
                    what = utf16_to_wtf8(path);
                    break;
                }
            for (const auto& [path, line] : after)
                if (what.empty() && !then.contains(path)) what = utf16_to_wtf8(path);
            violation(where, "",
                      std::string(now == &m ? "" : "after a restart, ") +
                          "something outside the root changed: " + what,
                      &m);
            return;
        }
    }

    // The service's image and every program started with more than the
    // user's rights since the turn: none may be one the user can change.
    void check_programs(const sim::Machine& m, uint32_t first_pid, const std::string& where) {
        for (const auto& [folded, service] : m.state().scm.services) {
            std::u16string image = service.binary_path;
            if (image.size() >= 2 && image.front() == u'"')
                image = image.substr(1, image.find(u'"', 1) - 1);
            if (user_may_change(m, image))
                violation(where, "",
                          "the service's image is one an ordinary user may change: " +
                              utf16_to_wtf8(image),
                          &m);
        }
        for (const auto& [pid, process] : m.state().processes) {
            if (pid < first_pid ||
                (process.token.user == sim::user_token().user && !process.token.elevated))
                continue;
            if (user_may_change(m, process.image))
                violation(where, "",
                          "a program an ordinary user may change ran with more rights: " +
                              utf16_to_wtf8(process.image),
                          &m);
        }
    }

    // Asked of the machine itself, as the user: may they write the file, or
    // move it or a folder above it aside?
    static bool user_may_change(const sim::Machine& m, const std::u16string& image) {
        if (image.empty() || !m.exists(image)) return false;
        auto copy = m.clone();
        sim::UserHands hands(*copy);
        if (hands.write_file(image, bytes_of("changed"))) return true;
        for (std::optional<std::u16string> path = image; path && p::parent_path(*path);
             path = p::parent_path(*path))
            if (hands.rename(*path, *path + u"-moved")) return true;
        return false;
    }

    bool every_target_;
    std::mt19937_64 rng_;
    std::vector<std::u16string> targets_;
    std::u16string journal_;       // the stage's journal file
    std::vector<uint8_t> forged_;  // the bytes of the last forged journal
    NeighbourResult n_;
};

}  // namespace

NeighbourResult explore_neighbour(const Scenario& scenario, const ExploreOptions& options,
                                  bool every_target) {
    return NeighbourWalk(scenario, options, every_target).run();
}

}  // namespace holvar::simtool
