// Writing txn.json. The output is built by hand rather than through a JSON
// tree: the key order is part of the format, and a journal of many thousands
// of operations is rewritten for every mark. Room is made once per record and
// the record is then written at a raw position, without a check per byte.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "txn/journal/journal_codec.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {

namespace {

// The file's bytes as they are written, into a string whose storage is used
// as it stands (a caller writing again and again keeps its capacity). The
// string's length runs ahead of the bytes written (its tail is room, not
// text) until `finish` trims it.
class OutputBuffer {
  public:
    OutputBuffer(std::string& target, size_t estimate) : buffer_(target) {
        grow_to(std::max(estimate, buffer_.capacity()));
    }

    // A position with room for `n` more bytes; `advance` tells where the
    // writing there ended.
    char* room(size_t n) {
        if (n > buffer_.size() - used_) grow_to(std::max(2 * buffer_.size(), used_ + n));
        return buffer_.data() + used_;
    }
    void advance(char* end) { used_ = static_cast<size_t>(end - buffer_.data()); }

    void text(std::string_view t) { advance(put(room(t.size()), t)); }
    bool json_string(std::u16string_view t) {
        char* end = write_json_string(room(json_string_bound(t.size())), t);
        if (end == nullptr) return false;
        advance(end);
        return true;
    }
    void json_string_utf8(std::string_view t) {
        advance(write_json_string_utf8(room(json_string_bound(t.size())), t));
    }

    void finish() { buffer_.resize(used_); }

    static char* put(char* to, std::string_view t) {
        std::memcpy(to, t.data(), t.size());
        return to + t.size();
    }

  private:
    // The new room is left as it is: every byte of it is written before the
    // string is handed out, and what is never written is trimmed.
    void grow_to(size_t n) {
        buffer_.resize_and_overwrite(n, [n](char*, size_t) { return n; });
    }

    std::string& buffer_;
    size_t used_ = 0;
};

char* put_file_id(char* to, const FileId& id) {
    *to++ = '"';
    to = write_hex16(to, id.high);
    to = write_hex16(to, id.low);
    *to++ = '"';
    return to;
}

// The most an operation object takes besides its path: the longest variant's
// keys, a ten-digit seq and two quoted file ids.
constexpr size_t op_fixed_bound = 160;

// The opening of each variant, up to its seq, padded to one fixed size so it
// is copied in one move (the writer's room takes the padding, which the
// digits then overwrite).
struct OpHead {
    char text[24];
    size_t length;
};
constexpr OpHead make_op_head(std::string_view text) {
    OpHead head{};
    for (size_t i = 0; i < text.size(); ++i) head.text[i] = text[i];
    head.length = text.size();
    return head;
}
constexpr OpHead op_heads[] = {
    make_op_head(R"({"op":"replace","seq":)"), make_op_head(R"({"op":"add","seq":)"),
    make_op_head(R"({"op":"retire","seq":)"), make_op_head(R"({"op":"mkdir","seq":)")};

// The decimal digits of the operations' sequence numbers. Every seq that is
// written is its operation's index (the writer checks), so the writer counts
// up instead of dividing for each one.
class SeqDigits {
  public:
    // Sixteen bytes go out whole (the writer's room allows it); the length
    // tells where the digits end.
    char* put(char* to) const {
        std::memcpy(to, digits_, sizeof digits_);
        return to + length_;
    }
    void next() {
        size_t i = length_;
        while (i > 0 && digits_[i - 1] == '9') digits_[--i] = '0';
        if (i > 0) {
            ++digits_[i - 1];
        } else {
            // 9...9 becomes 10...0 (at most ten digits: the seq is 32 bits).
            std::memmove(digits_ + 1, digits_, length_);
            digits_[0] = '1';
            ++length_;
        }
    }

  private:
    char digits_[16] = {'0'};
    size_t length_ = 1;
};

// One operation, after a comma unless it is the first.
bool write_op(OutputBuffer& out, const Op& op, const SeqDigits& seq, bool first) {
    char* p = out.room(1 + op_fixed_bound + json_string_bound(op.rel.size()));
    if (!first) *p++ = ',';
    const OpHead& head = op_heads[static_cast<size_t>(op.type)];
    std::memcpy(p, head.text, sizeof head.text);
    p += head.length;
    p = seq.put(p);
    p = OutputBuffer::put(p, R"(,"rel":)");
    p = write_json_string(p, op.rel);
    if (p == nullptr) return false;
    switch (op.type) {
        case OpType::replace:
            p = OutputBuffer::put(p, R"(,"old":)");
            p = put_file_id(p, op.old_id);
            p = OutputBuffer::put(p, R"(,"new":)");
            p = put_file_id(p, op.new_id);
            break;
        case OpType::add:
            p = OutputBuffer::put(p, R"(,"new":)");
            p = put_file_id(p, op.new_id);
            break;
        case OpType::retire:
            p = OutputBuffer::put(p, R"(,"old":)");
            p = put_file_id(p, op.old_id);
            p = OutputBuffer::put(
                p, op.leaf_kind == LeafKind::file ? R"(,"kind":"file")" : R"(,"kind":"reparse")");
            break;
        case OpType::mkdir:
            break;
    }
    *p++ = '}';
    out.advance(p);
    return true;
}

bool write_root_identity(OutputBuffer& out, const RootIdentity& id) {
    out.text(R"({"path":)");
    if (!out.json_string(id.path)) return false;
    char* p = out.room(128);
    p = OutputBuffer::put(p, R"(,"volume_serial":")");
    p = write_hex16(p, id.volume_serial);
    p = OutputBuffer::put(p, R"(","file_id":)");
    p = id.file_id ? put_file_id(p, *id.file_id) : OutputBuffer::put(p, "null");
    *p++ = '}';
    out.advance(p);
    return true;
}

void write_mark(OutputBuffer& out, const Mark& mark) {
    char* p = out.room(64);
    *p++ = '"';
    p = OutputBuffer::put(p, mark_name(mark.kind));
    if (mark.kind == MarkKind::root_created) {
        *p++ = ':';
        p = write_hex16(p, mark.root_id.high);
        p = write_hex16(p, mark.root_id.low);
    }
    *p++ = '"';
    out.advance(p);
}

bool write_journal(OutputBuffer& out, const Journal& j) {
    char* p = out.room(32);
    p = OutputBuffer::put(p, R"({"format":)");
    p = std::to_chars(p, p + 10, j.format).ptr;
    out.advance(p);
    out.text(j.kind == JournalKind::apply ? R"(,"kind":"apply")" : R"(,"kind":"remove")");
    out.text(R"(,"txid":)");
    out.json_string_utf8(j.txid);  // validated: 32 hex digits
    out.text(R"(,"engine_version":)");
    if (!utf8_to_utf16(j.engine_version)) return false;
    out.json_string_utf8(j.engine_version);
    out.text(R"(,"root":)");
    if (!write_root_identity(out, j.root)) return false;
    out.text(R"(,"stage":)");
    if (!write_root_identity(out, j.stage)) return false;
    out.text(R"(,"scm_before":)");
    if (j.scm_before) {
        std::string record;
        if (!scm::append_scm_config_json(record, *j.scm_before)) return false;
        out.text(record);
    } else {
        out.text("null");
    }
    out.text(j.service_running_before ? R"(,"service_running_before":true)"
                                      : R"(,"service_running_before":false)");
    out.text(R"(,"generated_before":[)");
    for (size_t i = 0; i < j.generated_before.size(); ++i) {
        if (i != 0) out.text(",");
        if (!out.json_string(j.generated_before[i])) return false;
    }
    out.text(j.options.purge_session_vault ? R"(],"options":{"purge_session_vault":true})"
                                           : R"(],"options":{"purge_session_vault":false})");
    out.text(R"(,"ops":[)");
    SeqDigits seq;
    for (size_t i = 0; i < j.ops.size(); ++i) {
        // The one rule of a valid journal left to check, here where each
        // operation is visited anyway.
        if (j.ops[i].seq != i) return false;
        if (!write_op(out, j.ops[i], seq, i == 0)) return false;
        seq.next();
    }
    out.text(R"(],"marks":[)");
    for (size_t i = 0; i < j.marks.size(); ++i) {
        if (i != 0) out.text(",");
        write_mark(out, j.marks[i]);
    }
    out.text("]}");
    return true;
}

// Enough for the whole file in one allocation when the paths are ASCII with a
// few separators; a longer file only costs the buffer one growth.
size_t estimate_size(const Journal& j) {
    size_t estimate = 2048;
    for (const Op& op : j.ops) estimate += 112 + 2 * op.rel.size();
    return estimate;
}

}  // namespace

platform::Result<std::string> encode_journal(const Journal& journal) {
    std::string bytes;
    if (auto written = encode_journal(journal, bytes); !written) {
        return std::unexpected(written.error());
    }
    return bytes;
}

platform::Status encode_journal(const Journal& journal, std::string& out) {
    if (validate_journal_header(journal)) {
        out.clear();
        return platform::invalid_input("invalid journal");
    }
    OutputBuffer buffer(out, estimate_size(journal));
    if (!write_journal(buffer, journal)) {
        out.clear();
        return platform::invalid_input("invalid journal");
    }
    buffer.finish();
    return {};
}

}  // namespace holvar::txn::journal
