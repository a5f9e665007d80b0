// Reading txn.json. The document is read with the JSON library's event
// interface: the top-level keys are collected first (a repeated one is refused,
// which the library's tree would hide by keeping the last), "format" is judged
// before anything else, and the operation list, the one part that grows with
// the transaction, is decoded straight into operations as it streams by.
#include <array>
#include <set>

#include "txn/journal/journal_codec.hpp"
#include "txn/journal/strict_json.hpp"
#include "txn/journal/text_codec.hpp"

namespace holvar::txn::journal {

namespace {

using json = nlohmann::json;

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

// One operation object as its keys arrive.
struct OpAccumulator {
    uint8_t seen = 0;
    Op op;
    std::string_view error;  // first problem in this object

    void reset() {
        seen = 0;
        op = Op{};
        error = {};
    }
    void fail(std::string_view e) {
        if (error.empty()) error = e;
    }

    // The keys each variant has, and must have.
    static uint8_t keys_of(OpType t) {
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

    // The finished object: the operation, or the first problem.
    bool finish() {
        if (!error.empty()) return false;
        if ((seen & k_op) == 0 || seen != keys_of(op.type)) {
            fail("invalid operation");
            return false;
        }
        return true;
    }
};

class JournalHandler {
  public:
    // ---- results
    bool not_object = false;
    bool duplicate_field = false;
    bool syntax_error = false;
    std::array<bool, field_count> present{};
    std::array<json, field_count> values;
    std::array<std::string_view, field_count> field_error{};
    bool unknown_field = false;
    bool ops_streamed = false;
    std::vector<Op> ops;
    std::string_view ops_error;

    // ---- events
    bool null() { return scalar(nullptr); }
    bool boolean(bool v) { return scalar(v); }
    bool number_integer(json::number_integer_t v) {
        if (mode_ == Mode::op_object)
            return op_number(v < 0 ? std::nullopt : std::optional(static_cast<uint64_t>(v)));
        return scalar(v);
    }
    bool number_unsigned(json::number_unsigned_t v) {
        if (mode_ == Mode::op_object) return op_number(v);
        return scalar(v);
    }
    bool number_float(json::number_float_t v, const std::string&) {
        if (mode_ == Mode::op_object) return op_number(std::nullopt);
        return scalar(v);
    }
    bool string(std::string& v) {
        if (mode_ == Mode::op_object) return op_string(v);
        return scalar(std::move(v));
    }
    bool binary(json::binary_t&) {
        syntax_error = true;
        return false;
    }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string& k) {
        switch (mode_) {
            case Mode::top:
                return top_key(k);
            case Mode::field:
                return feed_dom(false, [&](JsonDomBuilder& d) { return d.key(k); });
            case Mode::op_object:
                op_key(k);
                return true;
            default:
                return true;  // skipped
        }
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        syntax_error = true;
        return false;
    }

  private:
    enum class Mode : uint8_t {
        start,      // before the document
        top,        // in the top-level object, between fields
        field,      // inside a field's value, building its tree
        ops,        // inside the top-level "ops" array
        op_object,  // inside one operation object
        skip,       // inside a value that is refused: only its nesting is followed
        done,       // after the document
    };

    // ---- top level
    bool top_key(std::string& k) {
        current_ = field_count;
        for (size_t i = 0; i < field_count; ++i) {
            if (field_names[i] == k) current_ = static_cast<Field>(i);
        }
        if (current_ == field_count) {
            unknown_field = true;
            if (!unknown_keys_.insert(k).second) return duplicate();
            return true;
        }
        if (present[current_]) return duplicate();
        present[current_] = true;
        return true;
    }
    bool duplicate() {
        duplicate_field = true;
        return false;
    }

    // A scalar value anywhere but inside an operation object.
    bool scalar(json v) {
        switch (mode_) {
            case Mode::start:
                not_object = true;
                return false;
            case Mode::top:
                if (current_ != field_count) values[current_] = std::move(v);
                return true;
            case Mode::field:
                return feed_dom(false, [&](JsonDomBuilder& d) { return d.scalar(std::move(v)); });
            case Mode::ops:
                fail_ops("invalid operation");
                return true;
            case Mode::op_object:
                acc_.fail("invalid operation");
                return true;
            default:
                return true;
        }
    }

    bool open(bool object) {
        switch (mode_) {
            case Mode::start:
                if (!object) {
                    not_object = true;
                    return false;
                }
                mode_ = Mode::top;
                return true;
            case Mode::top:
                if (current_ == field_count) return begin_skip(Mode::top);
                if (current_ == f_ops && !object) {
                    ops_streamed = true;
                    mode_ = Mode::ops;
                    return true;
                }
                dom_.emplace(field_max_depth);
                mode_ = Mode::field;
                return feed_dom(true, [&](JsonDomBuilder& d) {
                    return object ? d.start_object() : d.start_array();
                });
            case Mode::field:
                return feed_dom(true, [&](JsonDomBuilder& d) {
                    return object ? d.start_object() : d.start_array();
                });
            case Mode::ops:
                if (!object) {
                    fail_ops("invalid operation");
                    return begin_skip(Mode::ops);
                }
                acc_.reset();
                mode_ = Mode::op_object;
                return true;
            case Mode::op_object:
                acc_.fail("invalid operation");
                return begin_skip(Mode::op_object);
            case Mode::skip:
                ++skip_depth_;
                return true;
            case Mode::done:
                return false;
        }
        return false;
    }

    bool close() {
        switch (mode_) {
            case Mode::top:
                mode_ = Mode::done;
                return true;
            case Mode::field:
                feed_dom(false, [](JsonDomBuilder& d) { return d.end_container(); });
                if (mode_ != Mode::field) return true;
                if (dom_->depth() == 0) finish_field();
                return true;
            case Mode::ops:
                mode_ = Mode::top;
                return true;
            case Mode::op_object:
                if (acc_.finish()) {
                    acc_.op.seq = acc_seq_;
                    ops.push_back(std::move(acc_.op));
                } else {
                    fail_ops(acc_.error);
                }
                mode_ = Mode::ops;
                return true;
            case Mode::skip:
                if (--skip_depth_ == 0) mode_ = skip_return_;
                return true;
            default:
                return false;
        }
    }

    // Feeds an event to the field's tree builder; a refusal there (a repeated
    // key inside a record, nesting too deep) spoils the field, not the parse:
    // "format" may still make the whole document unsupported. What is left of
    // the field's value is skipped: the containers still open, plus the one
    // whose opening was refused.
    template <class F>
    bool feed_dom(bool opening, F&& f) {
        size_t depth_before = dom_->depth();
        if (f(*dom_)) return true;
        field_error[current_] = dom_->failure() == StrictJsonFailure::duplicate_key
                                    ? "duplicate record field"
                                    : "value nested too deeply";
        dom_.reset();
        skip_depth_ = depth_before + (opening ? 1 : 0);
        skip_return_ = Mode::top;
        mode_ = skip_depth_ == 0 ? Mode::top : Mode::skip;
        return true;
    }

    void finish_field() {
        values[current_] = std::move(dom_->value());
        dom_.reset();
        mode_ = Mode::top;
    }

    bool begin_skip(Mode back) {
        skip_return_ = back;
        skip_depth_ = 1;
        mode_ = Mode::skip;
        return true;
    }

    void fail_ops(std::string_view e) {
        if (ops_error.empty()) ops_error = e;
    }

    // ---- operation objects
    void op_key(const std::string& k) {
        uint8_t bit = 0;
        if (k == "op") {
            bit = k_op;
        } else if (k == "seq") {
            bit = k_seq;
        } else if (k == "rel") {
            bit = k_rel;
        } else if (k == "old") {
            bit = k_old;
        } else if (k == "new") {
            bit = k_new;
        } else if (k == "kind") {
            bit = k_kind;
        }
        if (bit == 0 || (acc_.seen & bit) != 0) {
            acc_.fail("invalid operation");
            acc_key_ = 0;
            return;
        }
        acc_.seen |= bit;
        acc_key_ = bit;
    }

    bool op_number(std::optional<uint64_t> v) {
        if (acc_key_ != k_seq || !v || *v > 0xFFFFFFFFu) {
            acc_.fail("invalid operation");
        } else {
            acc_seq_ = static_cast<uint32_t>(*v);
        }
        return true;
    }

    bool op_string(const std::string& v) {
        switch (acc_key_) {
            case k_op:
                if (v == "replace") {
                    acc_.op.type = OpType::replace;
                } else if (v == "add") {
                    acc_.op.type = OpType::add;
                } else if (v == "retire") {
                    acc_.op.type = OpType::retire;
                } else if (v == "mkdir") {
                    acc_.op.type = OpType::mkdir;
                } else {
                    acc_.fail("invalid operation");
                }
                return true;
            case k_rel: {
                auto w = utf8_to_utf16(v);
                if (!w) {
                    acc_.fail("invalid operation");
                } else {
                    acc_.op.rel = std::move(*w);
                }
                return true;
            }
            case k_old:
            case k_new: {
                auto id = FileId::from_hex(v);
                if (!id) {
                    acc_.fail("invalid file id");
                } else {
                    (acc_key_ == k_old ? acc_.op.old_id : acc_.op.new_id) = *id;
                }
                return true;
            }
            case k_kind:
                if (v == "file") {
                    acc_.op.leaf_kind = LeafKind::file;
                } else if (v == "reparse") {
                    acc_.op.leaf_kind = LeafKind::reparse;
                } else {
                    acc_.fail("invalid operation kind");
                }
                return true;
            default:
                acc_.fail("invalid operation");
                return true;
        }
    }

    Mode mode_ = Mode::start;
    Field current_ = field_count;
    std::optional<JsonDomBuilder> dom_;
    size_t skip_depth_ = 0;
    Mode skip_return_ = Mode::top;
    std::set<std::string, std::less<>> unknown_keys_;
    OpAccumulator acc_;
    uint8_t acc_key_ = 0;
    uint32_t acc_seq_ = 0;
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

std::expected<Journal, JournalDefect> assemble(JournalHandler& h) {
    // Step 1: one well-formed object, no top-level key twice.
    if (h.duplicate_field) return std::unexpected(corrupt("duplicate journal field"));
    if (h.not_object) return std::unexpected(corrupt("not an object"));
    if (h.syntax_error) return std::unexpected(corrupt("invalid json"));

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

    // Step 5: the operations, already decoded while they streamed by.
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
    if (auto defect = validate_journal(j)) return std::unexpected(*defect);
    return j;
}

}  // namespace

std::expected<Journal, JournalDefect> decode_journal(std::string_view bytes) {
    JournalHandler handler;
    bool ok = json::sax_parse(bytes.begin(), bytes.end(), &handler);
    if (!ok && !handler.duplicate_field && !handler.not_object) handler.syntax_error = true;
    return assemble(handler);
}

}  // namespace holvar::txn::journal
