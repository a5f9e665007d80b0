#include "verbs.hpp"

#include <array>

namespace holvar::simtool {

std::span<const Verb> verb_table() {
    static const std::array<Verb, 20> table{{
        {"init",
         "MACHINE [--force]",
         "create a fresh machine file (C: on NTFS, the usual system folders)",
         {1, {}, {"--force"}, false},
         verb_init},
        {"stage",
         "MACHINE --root WINPATH [--txid HEX32] [--payload DIR | --demo-payload "
         "v1|v2|v2-broken|v3-reshaped]",
         "create the stage directory beside the root, its payload (copied from a real folder, "
         "or a demo runtime), the engine and the diagnostics directory; prints the engine's "
         "path last",
         {1, {"--root", "--txid", "--payload", "--demo-payload"}, {}, false},
         verb_stage},
        {"run",
         "MACHINE --exe WINPATH [--cwd WINPATH] [--crash-after N] [--fail CALL:CODE] [--trace] "
         "-- ARG...",
         "run the engine as a process of the machine; exits with the engine's exit code "
         "(--fail: every call of that boundary method fails with that Win32 error; --trace: "
         "print the journal's marks, the objects moved and the payload bytes copied)",
         {1, {"--exe", "--cwd", "--crash-after", "--fail"}, {"--trace"}, true},
         verb_run},
        {"hold-lock",
         "MACHINE [--exe WINPATH]",
         "leave a process running that holds the transaction lock; prints its PID last",
         {1, {"--exe"}, {}, false},
         verb_hold_lock},
        {"hold-file",
         "MACHINE WINPATH [--share r|rw|rwd|none] [--for-ms N] [--as user]",
         "leave a process running (C:\\Windows\\System32\\holder.exe) that keeps a file or "
         "folder open, sharing only read by default, until killed, a reboot, or N ms of "
         "virtual time; prints its PID last (--as user: an ordinary user's process, which "
         "opens only what the DACLs let it)",
         {2, {"--share", "--for-ms", "--as"}, {}, false},
         verb_hold_file},
        {"kill",
         "MACHINE PID [--exit-code N]",
         "end a simulated process (mutexes it owns become abandoned)",
         {2, {"--exit-code"}, {}, false},
         verb_kill},
        {"service-start",
         "MACHINE auto|demand|disabled",
         "change the start type of holvar_service by hand, as an administrator would",
         {2, {}, {}, false},
         verb_service_start},
        {"cat", "MACHINE WINPATH", "print a file's bytes unchanged", {2, {}, {}, false}, verb_cat},
        {"ls",
         "MACHINE WINPATH",
         "list a directory: kind, owner, file id, size, name (and a link's target)",
         {2, {}, {}, false},
         verb_ls},
        {"mkdir",
         "MACHINE WINPATH [--owner OWNER | --as user]",
         "create a directory (owner: administrators unless given; --as user: as an ordinary "
         "user, checked against the DACLs, as with every verb that takes it)",
         {2, {"--owner", "--as"}, {}, false},
         verb_mkdir},
        {"write",
         "MACHINE WINPATH (--from FILE | --text TEXT | --engine) [--owner OWNER | --as user]",
         "create or replace a file with the bytes of a real file, a text, or the engine's image",
         {2, {"--from", "--text", "--owner", "--as"}, {"--engine"}, false},
         verb_write},
        {"chown",
         "MACHINE WINPATH OWNER",
         "change an object's owner",
         {3, {}, {}, false},
         verb_chown},
        {"junction",
         "MACHINE WINPATH TARGET [--owner OWNER | --as user]",
         "create a junction (a directory reparse point) pointing at TARGET",
         {3, {"--owner", "--as"}, {}, false},
         verb_junction},
        {"link",
         "MACHINE WINPATH EXISTING [--as user]",
         "create a hard link: a second name WINPATH for the file EXISTING",
         {3, {"--as"}, {}, false},
         verb_link},
        {"rm",
         "MACHINE WINPATH [--as user]",
         "remove one name (a file, an empty directory or a link, never what it points at)",
         {2, {"--as"}, {}, false},
         verb_rm},
        {"reboot",
         "MACHINE",
         "restart the machine: pending renames are applied, every process ends",
         {1, {}, {}, false},
         verb_reboot},
        {"show",
         "MACHINE [journal WINPATH | tree WINPATH | services | registry | processes]",
         "print the tree of C:\\, processes, mutexes, services, the registry and every report; "
         "or one view: a journal (of a stage directory or a txn.json), the tree below a folder "
         "(kind, file id, size, relative path), the services in full, every registry key, the "
         "processes",
         {1, {}, {}, false, 2},
         verb_show},
        {"explain",
         "PATH [--machine MACHINE] [--json]",
         "a journal (txn.json, or the stage directory holding it) or an outcome report in plain "
         "words: its kind and txid, the marks reached, what the last run did, and what --recover "
         "would decide and why (PATH is a file of the host, or of the machine with --machine, "
         "whose service, root and transaction lock are then asked, as holvar-explain.exe asks "
         "Windows); --json for one JSON object; exit code 2 for a damaged or foreign file",
         {1, {"--machine"}, {"--json"}, false},
         verb_explain},
        {"explore",
         "MACHINE --root WINPATH --from DIR|DEMO --to DIR|DEMO [--all] [--rerun] [--every-state] "
         "[--seed N] "
         "[--crash-points N] [--cut-points N] [--recovery-crash-points N] [--fault-points N] "
         "[--stop-after N] [--retry] [--hands] [--neighbour]",
         "on a copy of the machine, install --from, then walk the upgrade to --to and the "
         "removal through power cuts at every mutating call (and in --recover) and every "
         "platform call failed; prints the states explored, the points walked, states per second, "
         "the outcomes and every violation (crash point, call, diff); exits 4 when a state broke "
         "the promise (the budgets sample that many points with --seed, 0 or none: all, but a "
         "recovery is cut at 2 points unless told; --all: every point, every recovery cut too; "
         "--rerun: each crash image re-run from the start, not taken as one run goes; "
         "--every-state: every state walked, even one whose machine is exactly that of one "
         "already walked (whose ends it otherwise shares); "
         "--stop-after: end a walk after N violations); --retry: also the setup program "
         "running the command again from the same stage and a new one after each crash point "
         "and failed call; --hands: also a person's hands between each power cut and the "
         "recovery; --neighbour: also an ordinary user's action before each mutating call "
         "(--crash-points samples the turns)",
         {1,
          {"--root", "--from", "--to", "--seed", "--crash-points", "--cut-points",
           "--recovery-crash-points", "--fault-points", "--stop-after"},
          {"--all", "--rerun", "--every-state", "--retry", "--hands", "--neighbour"},
          false},
         verb_explore},
        {"soak",
         "[--seed N] [--transactions N]",
         "on a fresh machine, N transactions in a row (1000 unless told): installs, upgrades, "
         "removals, repairs and recoveries with failed calls, power cuts, held files, an "
         "administrator's changes and restarts drawn with --seed (1 unless told); prints one "
         "line of outcomes, violations and what was left at the end; exits 4 on a violation",
         {0, {"--seed", "--transactions"}, {}, false},
         verb_soak},
    }};
    return table;
}

}  // namespace holvar::simtool
