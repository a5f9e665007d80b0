// The file to explain, read through the OS boundary as a bystander reads it:
// a stage directory stands for the journal in it, the journal is opened the
// way the engine opens it (the link itself, never its target) but sharing
// read, write and delete, so a running engine can still replace it.
#pragma once

#include <expected>
#include <string>

#include "explain/explanation.hpp"
#include "platform/os.hpp"

namespace holvar::explain {

// A stage directory without a journal: what --recover answers
// nothing_to_recover for.
Unexplained no_journal(const std::string& shown);

// `shown` names the path in messages.
std::expected<std::string, Unexplained> read_explained_file(platform::Os& os,
                                                            const std::u16string& path,
                                                            const std::string& shown);

}  // namespace holvar::explain
