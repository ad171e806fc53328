// Stage files made into the GL's text: opening comments dropped, literals filled in, unknown placeholders refused.
#include <gtest/gtest.h>

#include <string>

#include "stage_text.h"

namespace {

TEST(StageText, DropsOpeningCommentsAndFillsInLiterals)
{
    const std::vector<StageLiteral> literals = {{"SIZE", "vec2(4,2)"}, {"TEST_X", "x == 4"}};
    struct Case {
        const char* contents;
        const char* text;
    };
    const Case cases[] = {
        {"// stage\n// more\ncode // kept\n// kept too\n", "code // kept\n// kept too\n"},
        {"\n// after a blank line: kept\n", "\n// after a blank line: kept\n"},
        {"/* block */\n", "/* block */\n"},
        {"a = @SIZE@ * @SIZE@;\nb = @TEST_X@;\n", "a = vec2(4,2) * vec2(4,2);\nb = x == 4;\n"},
        {"x @ y, @lower@, @@, a@b.c, @SIZE", "x @ y, @lower@, @@, a@b.c, @SIZE"},
        {"//only comments\n", ""},
    };
    for (const Case& c : cases) {
        const StageText stage = stage_text("s.glsl", c.contents, literals);
        EXPECT_EQ(stage.problem, "") << c.contents;
        EXPECT_EQ(stage.text, c.text) << c.contents;
    }
}

TEST(StageText, ReportsAnUnknownPlaceholderAndAnUnreadableFile)
{
    EXPECT_EQ(stage_text("effect1.glsl", "// c\nv = @SIZE@ + @WIDTH@;\n", {{"SIZE", "1"}}).problem,
              "effect1.glsl: unknown placeholder @WIDTH@");
    EXPECT_EQ(load_stage("/nonexistent", "effect1", {}).problem,
              "cannot read /nonexistent/effect1.glsl: No such file or directory");
}

}   // namespace
