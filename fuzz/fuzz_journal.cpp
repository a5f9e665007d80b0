// decode_journal over arbitrary bytes: it must return a journal or a defect,
// never crash, and a journal it accepts must encode and decode to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "txn/journal/journal_codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace holvar::txn::journal;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto journal = decode_journal(bytes);
    if (!journal) return 0;
    auto encoded = encode_journal(*journal);
    if (!encoded) std::abort();  // a journal that was read must be writable
    auto again = decode_journal(*encoded);
    if (!again || !(*again == *journal)) std::abort();
    return 0;
}
