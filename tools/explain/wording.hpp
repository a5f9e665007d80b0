// The plain words of an explanation: what each journal mark says the run had
// done, what each recovery decision does and why, what a root found on the
// machine is, and what a setup program does next after each outcome. One
// place, so holvar-sim and holvar-explain.exe say exactly the same.
#pragma once

#include <string_view>

#include "txn/drivers/recover.hpp"
#include "txn/journal/journal.hpp"
#include "txn/outcome/outcome.hpp"

namespace holvar::explain {

std::string_view mark_story(txn::journal::MarkKind kind);

// The decision's name ("roll_back") and what recovery does on it, and why.
std::string_view decision_name(txn::drivers::RecoveryDecision decision);
std::string_view decision_story(txn::drivers::RecoveryDecision decision);

// "matches" .. "absent", and the words for it ("the folder this transaction recorded").
std::string_view root_state_name(txn::drivers::RootState root);
std::string_view root_state_words(txn::drivers::RootState root);

std::string_view next_step(txn::outcome::OutcomeKind kind);

}  // namespace holvar::explain
