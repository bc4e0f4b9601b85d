// The armoured blocks of a text ("-----BEGIN label-----", Base64, "-----END label-----"), found in
// one pass: the work is linear in the text's length whatever it holds, so that a file of begin
// markers without end markers costs no more than any other file of its size.
#pragma once

#include <functional>
#include <string_view>

namespace pem {

// Labels longer than this are not labels: real ones are a few words.
inline constexpr size_t MaxLabelLength = 64;

struct Block {
    std::string_view Label; // between "-----BEGIN " and "-----", on one line, not empty
    std::string_view Body;  // everything between the begin marker and the end marker
};

// Calls visit for every block of text in order. A block ends at the first end marker with its
// label; a begin marker met before that starts a new block, and the one it interrupts is dropped,
// as is one that never ends.
void ForEachBlock(std::string_view text, const std::function<void(const Block&)>& visit);

} // namespace pem
