#include "platform/common/Pem.h"

#include <optional>

namespace pem {

namespace {

constexpr std::string_view Dashes = "-----";
constexpr std::string_view Begin = "BEGIN ";
constexpr std::string_view End = "END ";

// The label of a marker whose keyword ends at `from`, and where the marker ends; looked for in
// at most MaxLabelLength characters, on one line.
std::optional<std::pair<std::string_view, size_t>> LabelAt(std::string_view text, size_t from)
{
    const std::string_view window = text.substr(from, MaxLabelLength + Dashes.size());
    const size_t close = window.find(Dashes);
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string_view label = window.substr(0, close);
    if (label.empty() || label.find_first_of("\r\n") != std::string_view::npos)
        return std::nullopt;
    return std::make_pair(label, from + close + Dashes.size());
}

} // namespace

void ForEachBlock(std::string_view text, const std::function<void(const Block&)>& visit)
{
    // The block begun last and not yet ended, if any.
    bool open = false;
    std::string_view openLabel;
    size_t bodyStart = 0;
    size_t pos = 0;
    // Every run of dashes is looked at once, and a label costs a bounded look ahead.
    while ((pos = text.find(Dashes, pos)) != std::string_view::npos) {
        // Of a longer run only its last five dashes can begin a marker.
        const size_t runEnd = text.find_first_not_of('-', pos);
        if (runEnd == std::string_view::npos)
            break;
        pos = runEnd - Dashes.size();
        const size_t keyword = runEnd;
        const std::string_view rest = text.substr(keyword);
        const bool begins = rest.starts_with(Begin);
        const bool ends = !begins && rest.starts_with(End);
        const auto label = begins || ends ? LabelAt(text, keyword + (begins ? Begin.size() : End.size()))
                                          : std::nullopt;
        if (!label) {
            pos = runEnd;
            continue;
        }
        if (begins) {
            open = true;
            openLabel = label->first;
            bodyStart = label->second;
        } else if (open && openLabel == label->first) {
            visit(Block{openLabel, text.substr(bodyStart, pos - bodyStart)});
            open = false;
        }
        pos = label->second;
    }
}

} // namespace pem
