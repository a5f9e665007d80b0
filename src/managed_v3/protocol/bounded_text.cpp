#include "managed_v3/protocol/bounded_text.hpp"

#include <memory>

namespace holvar::v3 {
namespace {

// Takes bytes up to the limit and notes an overflow instead of growing.
class BoundedSink : public nlohmann::detail::output_adapter_protocol<char> {
  public:
    BoundedSink(std::string& out, std::size_t limit) : out_(out), limit_(limit) {}

    void write_character(char c) override { write_characters(&c, 1); }

    void write_characters(const char* s, std::size_t length) override {
        if (overflow_ || length > limit_ - out_.size()) {
            overflow_ = true;
            return;
        }
        out_.append(s, length);
    }

    bool overflowed() const { return overflow_; }

  private:
    std::string& out_;
    std::size_t limit_;
    bool overflow_ = false;
};

}  // namespace

std::optional<std::string> compact_text_within(const OrderedJson& value, std::size_t limit) {
    std::string text;
    auto sink = std::make_shared<BoundedSink>(text, limit);
    // The replacing handler never acts on a value built by the encoders (they
    // check every text for UTF-8); it keeps the serializer from throwing.
    nlohmann::detail::serializer<OrderedJson> serializer(sink, ' ',
                                                         OrderedJson::error_handler_t::replace);
    serializer.dump(value, false, false, 0);
    if (sink->overflowed()) return std::nullopt;
    return text;
}

}  // namespace holvar::v3
