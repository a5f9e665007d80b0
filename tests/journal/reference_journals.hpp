// Journals written by hand, byte for byte as the file format describes them,
// with the in-memory journals they stand for. They are the fixed points the
// codec is held to: nothing here comes from the encoder.
#pragma once

#include <string>

#include "txn/journal/journal.hpp"

namespace holvar::txn::journal::testing {

inline FileId fid(uint64_t high, uint64_t low) {
    return FileId{high, low};
}

// An upgrade that replaced a running service's files: every operation kind,
// a service configuration before, and the marks of a committed install.
inline const std::string upgrade_text =
    R"J({"format":1,"kind":"apply","txid":"0123456789abcdef0123456789abcdef","engine_version":"3.0.0",)J"
    R"J("root":{"path":"C:\\Program Files\\Holvar","volume_serial":"1234abcd5678ef90","file_id":"000000000000000100000000000000a1"},)J"
    R"J("stage":{"path":"C:\\Program Files\\.Holvar-upgrade-0123456789abcdef0123456789abcdef","volume_serial":"1234abcd5678ef90","file_id":"00000000000000010000000000000b02"},)J"
    R"J("scm_before":{"service_type":"own_process","start_type":"auto","error_control":"normal",)J"
    R"J("binary_path":"\"C:\\Program Files\\Holvar\\resources\\holvar-service.exe\"","dependencies":["+NetworkProvider","Tcpip"],)J"
    R"J("account":"LocalSystem","display_name":"Holvar Service","description":"Holvar managed runtime v3"},)J"
    R"J("service_running_before":true,"generated_before":[".holvar-service-v3","service-logs"],)J"
    R"J("options":{"purge_session_vault":false},"ops":[)J"
    R"J({"op":"retire","seq":0,"rel":"data","old":"0000000000000001000000000000d001","kind":"reparse"},)J"
    R"J({"op":"replace","seq":1,"rel":"uninstall.exe","old":"00000000000000010000000000000011","new":"00000000000000010000000000000f11"},)J"
    R"J({"op":"mkdir","seq":2,"rel":"data"},)J"
    R"J({"op":"mkdir","seq":3,"rel":"resources\\locales"},)J"
    R"J({"op":"add","seq":4,"rel":"resources\\locales\\de.pak","new":"00000000000000010000000000000f12"},)J"
    R"J({"op":"replace","seq":5,"rel":"resources\\holvar-service.exe","old":"00000000000000010000000000000013","new":"00000000000000010000000000000f13"},)J"
    R"J({"op":"retire","seq":6,"rel":"old.dll","old":"ffffffffffffffff0000000000000014","kind":"file"}],)J"
    R"J("marks":["planned","fenced","placing","configured","committed","finalizing","finalized"]})J";

inline Journal upgrade_journal() {
    Journal j;
    j.kind = JournalKind::apply;
    j.txid = "0123456789abcdef0123456789abcdef";
    j.engine_version = "3.0.0";
    j.root = {u"C:\\Program Files\\Holvar", 0x1234abcd5678ef90, fid(1, 0xa1)};
    j.stage = {u"C:\\Program Files\\.Holvar-upgrade-0123456789abcdef0123456789abcdef",
               0x1234abcd5678ef90, fid(1, 0xb02)};
    scm::ScmConfig scm;
    scm.service_type = "own_process";
    scm.start_type = "auto";
    scm.error_control = "normal";
    scm.binary_path = u"\"C:\\Program Files\\Holvar\\resources\\holvar-service.exe\"";
    scm.dependencies = {u"+NetworkProvider", u"Tcpip"};
    scm.account = u"LocalSystem";
    scm.display_name = u"Holvar Service";
    scm.description = u"Holvar managed runtime v3";
    j.scm_before = scm;
    j.service_running_before = true;
    j.generated_before = {u".holvar-service-v3", u"service-logs"};
    j.ops = {
        Op::retire(u"data", fid(1, 0xd001), LeafKind::reparse),
        Op::replace(u"uninstall.exe", fid(1, 0x11), fid(1, 0xf11)),
        Op::mkdir(u"data"),
        Op::mkdir(u"resources\\locales"),
        Op::add(u"resources\\locales\\de.pak", fid(1, 0xf12)),
        Op::replace(u"resources\\holvar-service.exe", fid(1, 0x13), fid(1, 0xf13)),
        Op::retire(u"old.dll", fid(0xffffffffffffffff, 0x14), LeafKind::file),
    };
    for (size_t i = 0; i < j.ops.size(); ++i) j.ops[i].seq = static_cast<uint32_t>(i);
    j.marks = {MarkKind::planned,   MarkKind::fenced,     MarkKind::placing,  MarkKind::configured,
               MarkKind::committed, MarkKind::finalizing, MarkKind::finalized};
    return j;
}

// A fresh install into a root that did not exist, rolled back: no service
// before, a root without a file id, the root_created mark with its id, and
// texts that need escaping or are not ASCII.
inline const std::string fresh_install_text =
    R"J({"format":1,"kind":"apply","txid":"fedcba9876543210fedcba9876543210","engine_version":"3.0.0",)J"
    R"J("root":{"path":"D:\\Programme\\Holvar Ünïcødé 日本","volume_serial":"00000000000000ff","file_id":null},)J"
    R"J("stage":{"path":"D:\\Programme\\.Holvar-upgrade-fedcba9876543210fedcba9876543210","volume_serial":"00000000000000ff","file_id":"0123456789abcdef0123456789abcdef"},)J"
    R"J("scm_before":null,"service_running_before":false,"generated_before":[],)J"
    R"J("options":{"purge_session_vault":false},"ops":[)J"
    R"J({"op":"add","seq":0,"rel":"uninstall.exe","new":"00000000000000000000000000000001"},)J"
    R"J({"op":"mkdir","seq":1,"rel":"resources"},)J"
    R"J({"op":"add","seq":2,"rel":"resources\\holvar-service.exe","new":"00000000000000000000000000000002"}],)J"
    R"J("marks":["planned","root_created:000000000000000000000000c0ffee01","fenced","placing","rolling_back","rolled_back"]})J";

inline Journal fresh_install_journal() {
    Journal j;
    j.kind = JournalKind::apply;
    j.txid = "fedcba9876543210fedcba9876543210";
    j.engine_version = "3.0.0";
    j.root = {u"D:\\Programme\\Holvar Ünïcødé 日本", 0xff, std::nullopt};
    j.stage = {u"D:\\Programme\\.Holvar-upgrade-fedcba9876543210fedcba9876543210", 0xff,
               fid(0x0123456789abcdef, 0x0123456789abcdef)};
    j.ops = {Op::add(u"uninstall.exe", fid(0, 1)), Op::mkdir(u"resources"),
             Op::add(u"resources\\holvar-service.exe", fid(0, 2))};
    for (size_t i = 0; i < j.ops.size(); ++i) j.ops[i].seq = static_cast<uint32_t>(i);
    j.marks = {MarkKind::planned,      Mark::root_created(fid(0, 0xc0ffee01)),
               MarkKind::fenced,       MarkKind::placing,
               MarkKind::rolling_back, MarkKind::rolled_back};
    return j;
}

// A removal with the session-vault purge that went through every removal
// step, then was aborted by a later recovery: every removal mark once.
inline const std::string removal_text =
    R"J({"format":1,"kind":"remove","txid":"00000000000000000000000000000abc","engine_version":"3.0.0",)J"
    R"J("root":{"path":"C:\\Holvar","volume_serial":"1234abcd5678ef90","file_id":"0000000000000000000000000000000a"},)J"
    R"J("stage":{"path":"C:\\.Holvar-upgrade-00000000000000000000000000000abc","volume_serial":"1234abcd5678ef90","file_id":"0000000000000000000000000000000b"},)J"
    R"J("scm_before":{"service_type":"own_process","start_type":"disabled","error_control":"ignore",)J"
    R"J("binary_path":"\"C:\\Holvar\\resources\\holvar-service.exe\" --tab\there \"quoted\"\nline\u0001","dependencies":[],)J"
    R"J("account":"LocalSystem","display_name":"Holvar Service","description":null},)J"
    R"J("service_running_before":false,"generated_before":["service-logs"],)J"
    R"J("options":{"purge_session_vault":true},"ops":[],)J"
    R"J("marks":["planned","service_deleted","service_delete_pending","runtime_retired","maintenance_done",)J"
    R"J("tree_done","registry_done","uninstall_key_deleted","root_done","finalized","aborted"]})J";

inline Journal removal_journal() {
    Journal j;
    j.kind = JournalKind::remove;
    j.txid = "00000000000000000000000000000abc";
    j.engine_version = "3.0.0";
    j.root = {u"C:\\Holvar", 0x1234abcd5678ef90, fid(0, 0xa)};
    j.stage = {u"C:\\.Holvar-upgrade-00000000000000000000000000000abc", 0x1234abcd5678ef90,
               fid(0, 0xb)};
    scm::ScmConfig scm;
    scm.service_type = "own_process";
    scm.start_type = "disabled";
    scm.error_control = "ignore";
    scm.binary_path =
        u"\"C:\\Holvar\\resources\\holvar-service.exe\" --tab\there \"quoted\"\nline\u0001";
    scm.account = u"LocalSystem";
    scm.display_name = u"Holvar Service";
    j.scm_before = scm;
    j.generated_before = {u"service-logs"};
    j.options.purge_session_vault = true;
    j.marks = {MarkKind::planned,
               MarkKind::service_deleted,
               MarkKind::service_delete_pending,
               MarkKind::runtime_retired,
               MarkKind::maintenance_done,
               MarkKind::tree_done,
               MarkKind::registry_done,
               MarkKind::uninstall_key_deleted,
               MarkKind::root_done,
               MarkKind::finalized,
               MarkKind::aborted};
    return j;
}

}  // namespace holvar::txn::journal::testing
