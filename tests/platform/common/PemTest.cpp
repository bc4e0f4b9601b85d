// The armoured blocks of a text: which the scanner finds, with what label and body.
#include "platform/common/Pem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Blocks(std::string_view text)
{
    std::vector<std::string> found;
    pem::ForEachBlock(text, [&](const pem::Block& block) {
        found.push_back(std::string(block.Label) + ":" + std::string(block.Body));
    });
    return found;
}

TEST(Pem, FindsEveryCompleteBlockInOrder)
{
    const struct {
        const char* Name;
        std::string Text;
        std::vector<std::string> Expected;
    } cases[] = {
        {"two blocks", "-----BEGIN A-----\nxx\n-----END A-----\ntext\n-----BEGIN B C-----yy-----END B C-----",
         {"A:\nxx\n", "B C:yy"}},
        {"text around", "before\n-----BEGIN A-----zz-----END A-----after", {"A:zz"}},
        {"never ended", "-----BEGIN A-----xx\n", {}},
        {"a begin interrupts", "-----BEGIN A-----xx-----BEGIN B-----yy-----END A-----zz-----END B-----", {"B:yy-----END A-----zz"}},
        {"another label's end", "-----BEGIN A-----xx-----END B-----yy-----END A-----", {"A:xx-----END B-----yy"}},
        {"end without begin", "-----END A-----", {}},
        {"label across lines", "-----BEGIN A\nB-----xx-----END A\nB-----", {}},
        {"empty label", "-----BEGIN -----xx-----END -----", {}},
        {"empty label, then a block", "-----BEGIN -----BEGIN A-----xx-----END A-----", {"A:xx"}},
        {"dashes before the marker", "----------BEGIN A-----xx-----END A-----", {"A:xx"}},
        {"label too long", "-----BEGIN " + std::string(pem::MaxLabelLength + 1, 'L') + "-----xx-----END L-----", {}},
        {"label of the longest length",
         "-----BEGIN " + std::string(pem::MaxLabelLength, 'L') + "-----xx-----END " +
             std::string(pem::MaxLabelLength, 'L') + "-----",
         {std::string(pem::MaxLabelLength, 'L') + ":xx"}},
        {"cut in the marker", "-----BEGIN A-----xx-----END A---", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Blocks(c.Text), c.Expected) << c.Name;
}

} // namespace
