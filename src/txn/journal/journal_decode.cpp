// Reading txn.json in one pass with the strict reader. The top-level keys are
// collected first (a repeated one is refused), "format" is judged before
// anything else, and the operation list, the one part that grows with the
// transaction, is decoded straight into operations as it is read: no tree is
// built for it, and each path is converted to UTF-16 once, in place. The other
// fields are small records, held as JSON values until every key has been seen.
//
// The first of these ends the pass, in the order the text holds them: a syntax
// error, a top-level key seen twice, a document that is not an object. Every
// other problem is noted and judged afterwards, in the order of the rules, so
// that an unsupported "format" wins over any of them.
#include <array>
#include <bit>
#include <cstring>
#include <set>

#include <nlohmann/json.hpp>

#include "strict_json/dom.hpp"
#include "strict_json/reader.hpp"
#include "txn/journal/journal_codec.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {

namespace {

using json = nlohmann::json;
using strict_json::JsonDomBuilder;
using strict_json::JsonNumber;
using strict_json::JsonReader;
using strict_json::StrictJsonFailure;
using strict_json::walk_json_value;
using strict_json::WalkResult;

enum Field : uint8_t {
    f_format,
    f_kind,
    f_txid,
    f_engine_version,
    f_root,
    f_stage,
    f_scm_before,
    f_service_running_before,
    f_generated_before,
    f_options,
    f_ops,
    f_marks,
    field_count
};

constexpr std::array<std::string_view, field_count> field_names = {"format",
                                                                   "kind",
                                                                   "txid",
                                                                   "engine_version",
                                                                   "root",
                                                                   "stage",
                                                                   "scm_before",
                                                                   "service_running_before",
                                                                   "generated_before",
                                                                   "options",
                                                                   "ops",
                                                                   "marks"};

// The nesting a field's value may have: records hold at most a list of texts.
constexpr size_t field_max_depth = 2;

constexpr JournalDefect corrupt(std::string_view detail) {
    return JournalDefect{JournalProblem::corrupt, detail};
}

// The keys of an operation object, as bits.
enum OpKey : uint8_t { k_op = 1, k_seq = 2, k_rel = 4, k_old = 8, k_new = 16, k_kind = 32 };

// The keys each variant has, and must have.
uint8_t keys_of(OpType t) {
    switch (t) {
        case OpType::replace:
            return k_op | k_seq | k_rel | k_old | k_new;
        case OpType::add:
            return k_op | k_seq | k_rel | k_new;
        case OpType::retire:
            return k_op | k_seq | k_rel | k_old | k_kind;
        case OpType::mkdir:
            return k_op | k_seq | k_rel;
    }
    return 0;
}

uint8_t op_key_bit(std::string_view k) {
    if (k == "op") return k_op;
    if (k == "seq") return k_seq;
    if (k == "rel") return k_rel;
    if (k == "old") return k_old;
    if (k == "new") return k_new;
    if (k == "kind") return k_kind;
    return 0;
}

// The run of decimal digits that starts `text`, when it is shorter than
// eight and eight bytes can be read: its length and value, all in one word.
// False leaves the digits to be read one by one.
bool leading_digits8(std::string_view text, size_t& count, uint64_t& value) {
    constexpr uint64_t ones = 0x0101010101010101u;
    constexpr uint64_t highs = 0x8080808080808080u;
    if (text.size() < 8) return false;
    uint64_t w;
    std::memcpy(&w, text.data(), 8);
    // Each byte less '0': a digit gives 0-9, anything else a byte above 9 or
    // a borrow, which can only spoil the bytes after the first non-digit.
    uint64_t x = w - ones * '0';
    uint64_t non_digit = (x | (x + ones * (0x7F - 9))) & highs;
    if (non_digit == 0) return false;
    count = static_cast<size_t>(std::countr_zero(non_digit)) / 8;
    if (count == 0) return true;
    // The digits moved to the top of the word, the first most significant,
    // with zeros before them; then pairs, fours and eights combined.
    x <<= 8 * (8 - count);
    x = (x * 10 + (x >> 8)) & 0x00FF00FF00FF00FFu;
    x = (x * 100 + (x >> 16)) & 0x0000FFFF0000FFFFu;
    value = (x * 10000 + (x >> 32)) & 0xFFFFFFFFu;
    return true;
}

// What ended the pass early.
enum class Halt : uint8_t { none, syntax, duplicate_field, not_object };

// Everything the pass found.
struct Collected {
    Halt halt = Halt::none;
    std::array<bool, field_count> present{};
    std::array<json, field_count> values;  // every field but an "ops" array
    std::array<std::string_view, field_count> field_error{};
    bool unknown_field = false;
    bool ops_streamed = false;  // "ops" was an array, read into `ops`
    std::vector<Op> ops;
    std::string_view ops_error;        // the first problem in the operation list
    bool ops_out_of_sequence = false;  // some operation's seq is not its index
};

// One operation object as its members are read.
struct OpInProgress {
    explicit OpInProgress(Op& target) : op(target) {}

    Op& op;
    uint8_t seen = 0;
    uint32_t seq = 0;
    std::string_view error;  // first problem in this object

    void fail(std::string_view e) {
        if (error.empty()) error = e;
    }
};

class JournalPass {
  public:
    explicit JournalPass(std::string_view bytes) : reader_(bytes), size_(bytes.size()) {}

    Collected run() {
        document();
        return std::move(c_);
    }

  private:
    void halt(Halt h) {
        if (c_.halt == Halt::none) c_.halt = h;
    }

    void document() {
        char first = reader_.peek();
        if (first == '[') return halt(Halt::not_object);
        if (first != '{') {
            // A scalar on its own: well-formed, it is still not an object.
            bool ok = walk_json_value(reader_, nullptr, false) == WalkResult::ok;
            return halt(ok ? Halt::not_object : Halt::syntax);
        }
        reader_.consume('{');
        if (!reader_.consume('}')) {
            for (;;) {
                if (!member()) return;
                if (reader_.consume(',')) continue;
                if (reader_.consume('}')) break;
                return halt(Halt::syntax);
            }
        }
        if (!reader_.at_end()) halt(Halt::syntax);
    }

    // One top-level key and its value; false when the pass ends.
    bool member() {
        std::string_view key;
        if (!reader_.read_string(key, scratch_)) return fail(Halt::syntax);
        Field field = field_count;
        for (size_t i = 0; i < field_count; ++i) {
            if (field_names[i] == key) field = static_cast<Field>(i);
        }
        if (field == field_count) {
            c_.unknown_field = true;
            if (!unknown_keys_.emplace(key).second) return fail(Halt::duplicate_field);
        } else {
            if (c_.present[field]) return fail(Halt::duplicate_field);
            c_.present[field] = true;
        }
        if (!reader_.consume(':')) return fail(Halt::syntax);

        if (field == field_count) {
            // An unknown key's value is only checked to be well-formed.
            if (walk_json_value(reader_, nullptr, false) != WalkResult::ok)
                return fail(Halt::syntax);
            return true;
        }
        if (field == f_ops && reader_.peek() == '[') return operations();
        // A refusal inside a record (a repeated key, nesting too deep) spoils
        // the field, not the pass: "format" may still make the whole
        // document unsupported.
        JsonDomBuilder dom(field_max_depth);
        switch (walk_json_value(reader_, &dom, false)) {
            case WalkResult::ok:
                c_.values[field] = std::move(dom.value());
                return true;
            case WalkResult::refused:
                c_.field_error[field] = dom.failure() == StrictJsonFailure::duplicate_key
                                            ? "duplicate record field"
                                            : "value nested too deeply";
                return true;
            case WalkResult::syntax:
                break;
        }
        return fail(Halt::syntax);
    }

    bool fail(Halt h) {
        halt(h);
        return false;
    }

    void fail_ops(std::string_view e) {
        if (c_.ops_error.empty()) c_.ops_error = e;
    }

    // The top-level "ops" array.
    bool operations() {
        reader_.consume('[');
        c_.ops_streamed = true;
        // A written operation takes about a hundred bytes; a guess that is
        // too small only costs the vector one more growth.
        c_.ops.reserve(size_ / 96);
        if (reader_.consume(']')) return true;
        for (;;) {
            if (reader_.peek() == '{') {
                if (!operation()) return fail(Halt::syntax);
            } else {
                fail_ops("invalid operation");
                if (walk_json_value(reader_, nullptr, false) != WalkResult::ok)
                    return fail(Halt::syntax);
            }
            if (reader_.consume(',')) continue;
            if (reader_.consume(']')) return true;
            return fail(Halt::syntax);
        }
    }

    // One operation object, decoded into a new last element of the list;
    // false on a syntax error. The writer's own layout is read directly; any
    // other text (whitespace, keys in another order, escapes, a broken value)
    // is read again from its start with the general rules.
    bool operation() {
        Op& op = c_.ops.emplace_back();
        const char* start = reader_.position();
        if (writer_layout_operation(op)) return in_sequence(op);
        reader_.rewind(start);
        op = Op{};

        reader_.consume('{');
        OpInProgress p(op);
        if (!reader_.consume('}')) {
            for (;;) {
                std::string_view key;
                if (!reader_.read_string(key, scratch_)) return false;
                uint8_t bit = op_key_bit(key);
                if (bit == 0 || (p.seen & bit) != 0) {
                    p.fail("invalid operation");
                    bit = 0;
                } else {
                    p.seen |= bit;
                }
                if (!reader_.consume(':')) return false;
                if (!operation_value(p, bit)) return false;
                if (reader_.consume(',')) continue;
                if (reader_.consume('}')) break;
                return false;
            }
        }
        if (p.error.empty() && ((p.seen & k_op) == 0 || p.seen != keys_of(p.op.type))) {
            p.fail("invalid operation");
        }
        if (!p.error.empty()) {
            fail_ops(p.error);
            c_.ops.pop_back();
            return true;
        }
        p.op.seq = p.seq;
        return in_sequence(p.op);
    }

    // Notes an operation, the last one read, whose seq is not its index.
    bool in_sequence(const Op& op) {
        if (op.seq != c_.ops.size() - 1) c_.ops_out_of_sequence = true;
        return true;
    }

    // {"op":"<type>","seq":<n>,"rel":<text>[,"old":<id>][,"new":<id>][,"kind":<kind>]}
    // with every value valid, exactly as encode_journal writes it; false for
    // anything else, and `op` and the reader's position are then unspecified.
    bool writer_layout_operation(Op& op) {
        if (!reader_.take(R"({"op":")")) return false;
        if (reader_.take(R"(replace","seq":)")) {
            op.type = OpType::replace;
        } else if (reader_.take(R"(add","seq":)")) {
            op.type = OpType::add;
        } else if (reader_.take(R"(retire","seq":)")) {
            op.type = OpType::retire;
        } else if (reader_.take(R"(mkdir","seq":)")) {
            op.type = OpType::mkdir;
        } else {
            return false;
        }
        // The seq as written: 0, or up to ten digits without a leading zero.
        // Whatever follows is checked by the next step.
        std::string_view digits = reader_.upcoming(11);
        size_t count = 0;
        uint64_t seq = 0;
        if (!leading_digits8(digits, count, seq)) {
            while (count < digits.size() && digits[count] >= '0' && digits[count] <= '9') {
                seq = seq * 10 + static_cast<uint64_t>(digits[count] - '0');
                ++count;
            }
        }
        if (count == 0 || count > 10 || (count > 1 && digits[0] == '0') || seq > 0xFFFFFFFFu) {
            return false;
        }
        reader_.skip(count);
        op.seq = static_cast<uint32_t>(seq);
        if (!reader_.take(R"(,"rel":)") || !reader_.read_string_utf16(op.rel)) return false;
        bool has_old = op.type == OpType::replace || op.type == OpType::retire;
        bool has_new = op.type == OpType::replace || op.type == OpType::add;
        if (has_old && !(reader_.take(R"(,"old":)") && take_file_id(op.old_id))) return false;
        if (has_new && !(reader_.take(R"(,"new":)") && take_file_id(op.new_id))) return false;
        if (op.type == OpType::retire) {
            if (reader_.take(R"(,"kind":"file")")) {
                op.leaf_kind = LeafKind::file;
            } else if (reader_.take(R"(,"kind":"reparse")")) {
                op.leaf_kind = LeafKind::reparse;
            } else {
                return false;
            }
        }
        return reader_.take("}");
    }

    // A quoted file id of 32 lowercase digits, as written.
    bool take_file_id(FileId& id) {
        std::string_view text = reader_.upcoming(34);
        if (text.size() != 34 || text.front() != '"' || text.back() != '"') return false;
        if (!read_hex16(text.data() + 1, id.high) || !read_hex16(text.data() + 17, id.low)) {
            return false;
        }
        reader_.skip(34);
        return true;
    }

    // The value of the member `bit` (0 for a key that is refused already).
    bool operation_value(OpInProgress& p, uint8_t bit) {
        char c = reader_.peek();
        if (c == '"') {
            if (bit == k_rel) return reader_.read_string_utf16(p.op.rel);
            std::string_view text;
            if (!reader_.read_string(text, scratch_)) return false;
            operation_text(p, bit, text);
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            JsonNumber number;
            if (!reader_.read_number(number)) return false;
            // A sequence number is written as a plain unsigned 32-bit number.
            if (bit != k_seq || number.kind != JsonNumber::Kind::unsigned_integer ||
                number.magnitude > 0xFFFFFFFFu) {
                p.fail("invalid operation");
            } else {
                p.seq = static_cast<uint32_t>(number.magnitude);
            }
            return true;
        }
        // true, false, null, an object or an array: never an operation's value.
        p.fail("invalid operation");
        return walk_json_value(reader_, nullptr, false) == WalkResult::ok;
    }

    static void operation_text(OpInProgress& p, uint8_t bit, std::string_view v) {
        switch (bit) {
            case k_op:
                if (v == "replace") {
                    p.op.type = OpType::replace;
                } else if (v == "add") {
                    p.op.type = OpType::add;
                } else if (v == "retire") {
                    p.op.type = OpType::retire;
                } else if (v == "mkdir") {
                    p.op.type = OpType::mkdir;
                } else {
                    p.fail("invalid operation");
                }
                return;
            case k_old:
            case k_new: {
                // 32 lowercase digits: the high half, then the low one.
                std::optional<uint64_t> high, low;
                if (v.size() == 32) {
                    high = parse_lower_hex(v.substr(0, 16), 16);
                    low = parse_lower_hex(v.substr(16), 16);
                }
                if (!high || !low) {
                    p.fail("invalid file id");
                } else {
                    (bit == k_old ? p.op.old_id : p.op.new_id) = FileId{*high, *low};
                }
                return;
            }
            case k_kind:
                if (v == "file") {
                    p.op.leaf_kind = LeafKind::file;
                } else if (v == "reparse") {
                    p.op.leaf_kind = LeafKind::reparse;
                } else {
                    p.fail("invalid operation kind");
                }
                return;
            default:
                p.fail("invalid operation");  // a text where none belongs
                return;
        }
    }

    JsonReader reader_;
    size_t size_;
    Collected c_;
    std::set<std::string, std::less<>> unknown_keys_;
    std::string scratch_;
};

// ---- from collected field values to the journal

std::optional<std::u16string> wide(const json& v) {
    if (!v.is_string()) return std::nullopt;
    return utf8_to_utf16(v.get_ref<const std::string&>());
}

const json* member(const json& object, std::string_view key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

bool only_keys(const json& object, std::initializer_list<std::string_view> keys) {
    for (const auto& [k, v] : object.get_ref<const json::object_t&>()) {
        bool known = false;
        for (auto name : keys) known = known || k == name;
        if (!known) return false;
    }
    return true;
}

std::expected<RootIdentity, JournalDefect> decode_root_identity(const json& v) {
    if (!v.is_object() || !only_keys(v, {"path", "volume_serial", "file_id"})) {
        return std::unexpected(corrupt("invalid root identity"));
    }
    RootIdentity id;
    const json* path = member(v, "path");
    const json* serial = member(v, "volume_serial");
    const json* file_id = member(v, "file_id");
    if (path == nullptr || serial == nullptr || file_id == nullptr) {
        return std::unexpected(corrupt("invalid root identity"));
    }
    auto p = wide(*path);
    if (!p) return std::unexpected(corrupt("invalid root identity"));
    id.path = std::move(*p);
    if (!serial->is_string()) return std::unexpected(corrupt("invalid volume serial"));
    auto s = parse_lower_hex(serial->get_ref<const std::string&>(), 16);
    if (!s) return std::unexpected(corrupt("invalid volume serial"));
    id.volume_serial = *s;
    if (!file_id->is_null()) {
        if (!file_id->is_string()) return std::unexpected(corrupt("invalid file id"));
        auto f = FileId::from_hex(file_id->get_ref<const std::string&>());
        if (!f) return std::unexpected(corrupt("invalid file id"));
        id.file_id = *f;
    }
    return id;
}

std::expected<Mark, JournalDefect> decode_mark(const json& v) {
    if (!v.is_string()) return std::unexpected(corrupt("invalid mark"));
    std::string_view text = v.get_ref<const std::string&>();
    constexpr std::string_view prefix = "root_created:";
    if (text.starts_with(prefix)) {
        auto id = FileId::from_hex(text.substr(prefix.size()));
        if (!id) return std::unexpected(corrupt("invalid root id"));
        return Mark::root_created(*id);
    }
    auto kind = mark_from_name(text);
    // "root_created" is only ever written with its id.
    if (!kind || *kind == MarkKind::root_created) return std::unexpected(corrupt("invalid mark"));
    return Mark(*kind);
}

std::expected<Journal, JournalDefect> assemble(Collected& h) {
    // Step 1: one well-formed object, no top-level key twice.
    switch (h.halt) {
        case Halt::none:
            break;
        case Halt::duplicate_field:
            return std::unexpected(corrupt("duplicate journal field"));
        case Halt::not_object:
            return std::unexpected(corrupt("not an object"));
        case Halt::syntax:
            return std::unexpected(corrupt("invalid json"));
    }

    // Step 2: "format" before anything else.
    if (!h.present[f_format]) return std::unexpected(corrupt("missing format"));
    const json& format = h.values[f_format];
    if (!format.is_number_unsigned() && !format.is_number_integer()) {
        return std::unexpected(corrupt("invalid format"));  // missing, text, fractional, ...
    }
    if (format.is_number_integer() && !format.is_number_unsigned()) {
        return std::unexpected(corrupt("invalid format"));  // negative
    }
    uint64_t format_value = format.get<uint64_t>();
    if (format_value > 0xFFFFFFFFu) return std::unexpected(corrupt("invalid format"));
    if (format_value != journal_format) {
        return std::unexpected(
            JournalDefect{JournalProblem::unsupported, "unsupported journal format"});
    }

    // Step 3: the twelve fields, no others, each of its shape.
    if (h.unknown_field) return std::unexpected(corrupt("unknown journal field"));
    for (Field f : {f_kind, f_txid, f_generated_before, f_options, f_ops, f_marks}) {
        if (!h.present[f]) return std::unexpected(corrupt("missing journal field"));
    }
    for (size_t f = 0; f < field_count; ++f) {
        if (!h.field_error[f].empty()) return std::unexpected(corrupt(h.field_error[f]));
    }

    Journal j;
    j.format = journal_format;

    const json& kind = h.values[f_kind];
    if (kind == "apply") {
        j.kind = JournalKind::apply;
    } else if (kind == "remove") {
        j.kind = JournalKind::remove;
    } else {
        return std::unexpected(corrupt("invalid kind"));
    }

    if (!h.values[f_txid].is_string()) return std::unexpected(corrupt("invalid txid"));
    j.txid = h.values[f_txid].get_ref<const std::string&>();

    if (h.present[f_engine_version]) {
        if (!h.values[f_engine_version].is_string()) {
            return std::unexpected(corrupt("invalid engine version"));
        }
        j.engine_version = h.values[f_engine_version].get_ref<const std::string&>();
    }

    // Step 4: the two identities.
    if (h.present[f_root]) {
        auto root = decode_root_identity(h.values[f_root]);
        if (!root) return std::unexpected(root.error());
        j.root = std::move(*root);
    }
    if (h.present[f_stage]) {
        auto stage = decode_root_identity(h.values[f_stage]);
        if (!stage) return std::unexpected(stage.error());
        j.stage = std::move(*stage);
    }

    if (h.present[f_scm_before] && !h.values[f_scm_before].is_null()) {
        auto scm = scm::scm_config_from_json(h.values[f_scm_before]);
        if (!scm) return std::unexpected(corrupt("invalid scm_before"));
        j.scm_before = std::move(*scm);
    }

    if (h.present[f_service_running_before]) {
        if (!h.values[f_service_running_before].is_boolean()) {
            return std::unexpected(corrupt("invalid service_running_before"));
        }
        j.service_running_before = h.values[f_service_running_before].get<bool>();
    }

    const json& generated = h.values[f_generated_before];
    if (!generated.is_array()) return std::unexpected(corrupt("invalid generated_before"));
    for (const json& g : generated) {
        auto w = wide(g);
        if (!w) return std::unexpected(corrupt("invalid generated_before"));
        j.generated_before.push_back(std::move(*w));
    }

    const json& options = h.values[f_options];
    if (!options.is_object() || !only_keys(options, {"purge_session_vault"})) {
        return std::unexpected(corrupt("invalid options"));
    }
    const json* purge = member(options, "purge_session_vault");
    if (purge == nullptr || !purge->is_boolean())
        return std::unexpected(corrupt("invalid options"));
    j.options.purge_session_vault = purge->get<bool>();

    // Step 5: the operations, already decoded as they were read.
    if (!h.ops_streamed) return std::unexpected(corrupt("invalid operation list"));
    if (!h.ops_error.empty()) return std::unexpected(corrupt(h.ops_error));
    j.ops = std::move(h.ops);

    // Step 6: the marks.
    const json& marks = h.values[f_marks];
    if (!marks.is_array()) return std::unexpected(corrupt("invalid marks"));
    j.marks.reserve(marks.size());
    for (const json& m : marks) {
        auto mark = decode_mark(m);
        if (!mark) return std::unexpected(mark.error());
        j.marks.push_back(*mark);
    }

    // Step 7: the journal's own rules.
    if (auto defect = validate_journal_header(j)) return std::unexpected(*defect);
    if (h.ops_out_of_sequence) return std::unexpected(operation_out_of_sequence);
    return j;
}

}  // namespace

std::expected<Journal, JournalDefect> decode_journal(std::string_view bytes) {
    Collected collected = JournalPass(bytes).run();
    return assemble(collected);
}

}  // namespace holvar::txn::journal
